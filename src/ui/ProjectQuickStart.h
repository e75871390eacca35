#pragma once

#include <QIcon>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

// What a project window's terminal pane shows while there is no session: the project's name and
// four large buttons that start one. Each button calls its callback; an unset callback does nothing.
class VRNXProjectQuickStart : public QWidget {
    Q_OBJECT
public:
    enum class Action { Orchestrator, Claude, Codex, Terminal };

    explicit VRNXProjectQuickStart(QWidget* parent = nullptr);

    std::function<void()> onStartOrchestrator;
    // Takes the provider id ("claude", "codex").
    std::function<void(const QString& agentID)> onStartAgent;
    std::function<void()> onOpenTerminal;

    // Empty at creation; the owner puts the upper-cased project folder name here.
    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* subtitleLabel() const { return subtitleLabel_; }
    QPushButton* button(Action action) const;

    // Replaces a button's leading icon (the owner's agent icons).
    void setActionIcon(Action action, const QIcon& icon);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutContent();

    QLabel* titleLabel_;
    QLabel* subtitleLabel_;
    QPushButton* buttons_[4];
};
