#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QImage>

#include "widgets/MyButton.h"

using clipwren::MyButton;

namespace {

QImage render(MyButton& button) { return button.grab().toImage(); }

// Counts pixels of a colour inside a rectangle.
int countColor(const QImage& image, const QRect& area, const QColor& color) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == color) ++count;
    return count;
}

}  // namespace

TEST(MyButton, BackgroundTurnsLavenderWhilePressedAndUnderThePointer) {
    MyButton button;
    button.resize(46, 46);
    const QColor plain = button.palette().color(QPalette::Button);
    EXPECT_EQ(button.backgroundColor(), plain);
    EXPECT_EQ(render(button).pixelColor(5, 5), plain);

    button.setDown(true);
    EXPECT_EQ(button.backgroundColor(), QColor(175, 168, 207));
    EXPECT_EQ(render(button).pixelColor(5, 5), QColor(175, 168, 207));
    button.setDown(false);

    // The pointer over the button: Qt marks the widget as under the mouse on an enter event.
    button.show();
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    QApplication::sendEvent(&button, &enter);
    button.setAttribute(Qt::WA_UnderMouse, true);
    EXPECT_EQ(button.backgroundColor(), QColor(175, 168, 207));
}

TEST(MyButton, WebLinkVariantKeepsThePlainBackgroundWhenPressed) {
    MyButton button;
    button.resize(134, 30);
    button.setPicture(MyButton::Picture::Logo);
    button.setHotTracking(false);
    button.setDown(true);
    EXPECT_EQ(button.backgroundColor(), button.palette().color(QPalette::Button));
}

TEST(MyButton, BorderIsDarkBlueAllAroundAndCaptionsKeepClearOfIt) {
    MyButton button;
    button.resize(46, 46);
    button.setText(QStringLiteral("Play"));
    button.setPicture(MyButton::Picture::Play);
    const QImage image = render(button);
    const QColor border(0, 0, 127);
    for (const QPoint corner : {QPoint(0, 0), QPoint(45, 0), QPoint(0, 45), QPoint(45, 45), QPoint(23, 0), QPoint(0, 23)})
        EXPECT_EQ(image.pixelColor(corner), border) << corner.x() << "," << corner.y();

    // The window's widest captions on its mark buttons, 57 x 46 pixels: the two columns
    // inside each side of the border stay background.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8.25);
    for (const char* caption : {"Mark begin", "Clear begin"}) {
        MyButton mark;
        mark.setFont(font);
        mark.resize(57, 46);
        mark.setText(QString::fromLatin1(caption));
        mark.setPicture(MyButton::Picture::MarkBegin);
        const QImage drawn = render(mark);
        const QColor plain = mark.palette().color(QPalette::Button);
        for (const int x : {1, 2, 54, 55})
            EXPECT_EQ(countColor(drawn, QRect(x, 1, 1, 44), plain), 44) << caption << " column " << x;
    }
}

TEST(MyButton, IconSitsAboveTheCaptionAndPictureOnlyButtonsAreCentred) {
    MyButton captioned;
    captioned.resize(46, 46);
    captioned.setText(QStringLiteral("Play"));
    captioned.setPicture(MyButton::Picture::Play);
    const QImage withCaption = render(captioned);
    // The green play triangle ends above the first row of the caption's dark ink.
    auto greenish = [](const QColor& c) { return c.green() > c.red() + 40 && c.green() > c.blue() + 40; };
    auto ink = [](const QColor& c) { return c.lightness() < 60 && c.blue() < 100; };
    int greenBottom = -1, inkTop = 46, greenPixels = 0;
    for (int y = 1; y < 45; ++y)
        for (int x = 1; x < 45; ++x) {
            const QColor c = withCaption.pixelColor(x, y);
            if (greenish(c)) greenBottom = y, ++greenPixels;
            if (ink(c) && y > 23) inkTop = std::min(inkTop, y);
        }
    EXPECT_GT(greenPixels, 20);
    EXPECT_LT(inkTop, 45);
    EXPECT_LT(greenBottom, inkTop);

    MyButton pictureOnly;
    pictureOnly.resize(22, 24);
    pictureOnly.setPicture(MyButton::Picture::Help);
    const QImage picture = render(pictureOnly);
    const QColor plain = pictureOnly.palette().color(QPalette::Button);
    // Drawn in the middle: the centre is not background, the area near the border is.
    EXPECT_NE(picture.pixelColor(11, 12), plain);
    EXPECT_EQ(countColor(picture, QRect(1, 1, 20, 1), plain), 20);
}

TEST(MyButton, ShortWideButtonKeepsItsIconReadableBesideTheCaption) {
    MyButton button;
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8.25);
    button.setFont(font);
    button.resize(99, 28);  // "Browse input"
    button.setText(QStringLiteral("Browse input"));
    button.setPicture(MyButton::Picture::OpenInput);
    const QImage image = render(button);
    auto yellowish = [](const QColor& c) { return c.red() > 180 && c.green() > 140 && c.blue() < 120; };
    QRect folder;
    for (int y = 1; y < 27; ++y)
        for (int x = 1; x < 98; ++x)
            if (yellowish(image.pixelColor(x, y))) folder |= QRect(x, y, 1, 1);
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_GE(folder.height(), 9);
    // The caption's ink lies right of the folder, in the same rows.
    auto ink = [](const QColor& c) { return c.lightness() < 80; };
    int captionInk = 0;
    for (int y = folder.top(); y <= folder.bottom(); ++y)
        for (int x = folder.right() + 3; x < 98; ++x)
            if (ink(image.pixelColor(x, y))) ++captionInk;
    EXPECT_GT(captionInk, 40);
}
