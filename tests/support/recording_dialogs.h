#pragma once
// Dialogs that record every text instead of showing a box, and answer
// questions from a queue (Yes when the queue is empty).

#include "ui/dialogs.h"

#include <QStringList>
#include <deque>

namespace testsupport {

class RecordingDialogs : public ui::Dialogs {
public:
    struct Shown { QString kind; QString text; };

    void info(const QString& text) override { shown.push_back({"info", text}); }
    void error(const QString& text) override { shown.push_back({"error", text}); }
    void plain(const QString& text) override { shown.push_back({"plain", text}); }
    bool question(const QString& text) override
    {
        shown.push_back({"question", text});
        if (answers.empty())
            return true;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const auto& s : shown)
            out << s.text;
        return out;
    }

    std::vector<Shown> shown;
    std::deque<bool> answers;
};

// Installs a RecordingDialogs for the lifetime of the object.
class ScopedRecordingDialogs {
public:
    ScopedRecordingDialogs();
    ~ScopedRecordingDialogs();
    RecordingDialogs& operator*() { return *dialogs_; }
    RecordingDialogs* operator->() { return dialogs_.get(); }

private:
    std::shared_ptr<RecordingDialogs> dialogs_;
};

} // namespace testsupport
