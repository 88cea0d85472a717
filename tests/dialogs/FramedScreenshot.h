// Pictures of windows with a title bar: the offscreen platform draws no window frames, so the
// caption (and whether a close box shows) is drawn above the client area by the widget style.
// Saved like the plain pictures, under the build's screenshots/ folder as <name>.png.
#pragma once

#include <QDir>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QWidget>

namespace testing_support {

inline QString saveFramedScreenshot(QWidget &window, const QString &name) {
    QStyleOptionTitleBar option;
    option.initFrom(&window);
    option.text = window.windowTitle();
    option.icon = window.windowIcon();
    option.titleBarFlags = window.windowFlags();
    option.titleBarState = Qt::WindowActive;
    option.subControls = QStyle::SC_All;
    option.state |= QStyle::State_Active;
    const int titleHeight =
        window.style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, &window);
    option.rect = QRect(0, 0, window.width(), titleHeight);

    QPixmap picture(window.width(), titleHeight + window.height());
    picture.fill(window.palette().window().color());
    {
        QPainter painter(&picture);
        window.style()->drawComplexControl(QStyle::CC_TitleBar, &option, &painter, &window);
        painter.drawPixmap(0, titleHeight, window.grab());
    }
    const QString dir = QStringLiteral(CDRW_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString path = dir + u'/' + name + QStringLiteral(".png");
    picture.save(path, "PNG");
    return path;
}

}  // namespace testing_support
