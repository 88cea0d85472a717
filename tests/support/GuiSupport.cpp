// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: The cdrw-fwupdate developers
#include "tests/support/GuiSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>
#include <QVariant>
#include <string>

#include "tests/support/QtPrinters.h"

namespace testing_support {

QString savePicture(const QPixmap &picture, const QString &name) {
    const QString dir = QStringLiteral(CDRW_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    picture.save(path, "PNG");
    return path;
}

QString saveScreenshot(QWidget &window, const QString &name) {
    return savePicture(window.grab(), name);
}

QPixmap framedPicture(QWidget &window) {
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
    QPainter painter(&picture);
    window.style()->drawComplexControl(QStyle::CC_TitleBar, &option, &painter, &window);
    painter.drawPixmap(0, titleHeight, window.grab());
    return picture;
}

QString saveFramedScreenshot(QWidget &window, const QString &name) {
    return savePicture(framedPicture(window), name);
}

void whenModalShown(std::function<void(QWidget *)> action) {
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action = std::move(action)]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

void expectControls(std::initializer_list<ControlSpec> controls) {
    int row = 0;
    for (const ControlSpec &control : controls) {
        SCOPED_TRACE("control row " + std::to_string(++row));
        ASSERT_NE(control.widget, nullptr);
        const QWidget &widget = *control.widget;
        QVariant caption = widget.property("text");
        if (!caption.isValid()) {
            caption = widget.property("title");
        }
        if (control.caption != nullptr) {
            EXPECT_EQ(caption.toString().toStdString(), control.caption);
        }
        if (!control.mayWidenForText) {
            EXPECT_EQ(widget.geometry(), control.geometry);
            continue;
        }
        EXPECT_EQ(widget.pos(), control.geometry.topLeft());
        EXPECT_EQ(widget.height(), control.geometry.height());
        EXPECT_GE(widget.width(), control.geometry.width());
        EXPECT_LE(widget.fontMetrics().horizontalAdvance(caption.toString()), widget.width());
    }
}

void pumpEvents(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

}  // namespace testing_support
