// A picture of the window for a person to look at: artifacts/window.png.
#include <QDir>

#include "WindowTestSupport.h"
#include "support/TestSupport.h"

using windowtest::WindowTest;

TEST_F(WindowTest, Screenshot) {
    clipwren::frmMain& w = open();
    w.show();
    const QString dir = testsupport::artifactsDir();
    QDir().mkpath(dir);
    ASSERT_TRUE(w.grab().save(dir + "/window.png"));
}
