// Entry of every test program: one application object for the whole run,
// created before the first test and destroyed before the toolkit's own
// statics go (a function-local static QApplication crashes at exit).

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QS_ARTIFACTS"))
        qputenv("QS_ARTIFACTS", QS_DEFAULT_ARTIFACTS);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
