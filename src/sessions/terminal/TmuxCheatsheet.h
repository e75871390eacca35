#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

// The small card of tmux keys a plain terminal tab shows after Ctrl+B.
class VRNXTmuxCheatsheet : public QWidget {
    Q_OBJECT
public:
    explicit VRNXTmuxCheatsheet(QWidget* parent = nullptr);

    // (key, action), in the order shown.
    static const QList<QPair<QString, QString>>& entries();
    static QString title();

protected:
    void paintEvent(QPaintEvent* event) override;
};
