#include "ui/LauncherWindow.h"

#include "ui/Theme.h"

#include <QGuiApplication>
#include <QScreen>

VRNXLauncherWindow::VRNXLauncherWindow(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Varnix"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Not resizable: the list scrolls instead.
    setFixedSize(540, 600);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::bg());
    setPalette(pal);
    setAutoFillBackground(true);
}

void VRNXLauncherWindow::present() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
}
