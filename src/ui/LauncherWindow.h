#pragma once

#include <QWidget>

// The project launcher's window: 540 x 600, titled "Varnix", on the theme's background. Its
// content comes from VRNXProjectLauncher.
class VRNXLauncherWindow : public QWidget {
    Q_OBJECT
public:
    explicit VRNXLauncherWindow(QWidget* parent = nullptr);

    // Shows the window centred on the screen, raised and activated.
    void present();
};
