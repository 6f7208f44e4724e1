#include "support/recording_dialogs.h"

namespace testsupport {

ScopedRecordingDialogs::ScopedRecordingDialogs()
    : dialogs_(std::make_shared<RecordingDialogs>())
{
    ui::setDialogs(dialogs_);
}

ScopedRecordingDialogs::~ScopedRecordingDialogs()
{
    ui::setDialogs(nullptr);
}

} // namespace testsupport
