#include "ui/LauncherWindow.h"

#include "ui/Theme.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

VRNXLauncherWindow::VRNXLauncherWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Varnix"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(540, 600);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Theme::bg());
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 40, 32, 32);
    layout->setSpacing(8);

    auto* icon = new QLabel(this);
    icon->setAlignment(Qt::AlignHCenter);
    icon->setPixmap(QGuiApplication::windowIcon().pixmap(96, 96));
    layout->addWidget(icon);

    auto* title = new QLabel(QStringLiteral("Varnix"), this);
    title->setObjectName(QStringLiteral("launcherTitle"));
    title->setAlignment(Qt::AlignHCenter);
    title->setFont(Theme::uiFont(28, QFont::Bold));
    layout->addWidget(title);

    auto* subtitle = new QLabel(QStringLiteral("A workbench for coding agents"), this);
    subtitle->setAlignment(Qt::AlignHCenter);
    subtitle->setFont(Theme::uiFont(13));
    QPalette sub = subtitle->palette();
    sub.setColor(QPalette::WindowText, Theme::text2());
    subtitle->setPalette(sub);
    layout->addWidget(subtitle);
    layout->addStretch(1);
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
