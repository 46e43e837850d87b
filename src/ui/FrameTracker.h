#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWindow;

// Puts the window back where it was last left and remembers every new place. The frame lives
// in the settings file under mainWindowFrame. Restoring runs twice (now and a moment later)
// because some window managers place a new window after its first map and undo an early move.
// A move or resize counts as done once the window has stood still for settleMs.
class FrameTracker : public QObject {
    Q_OBJECT

public:
    static constexpr int settleMs = 300;
    static inline const QString key = QStringLiteral("mainWindowFrame");

    FrameTracker(QString storePath, QObject* parent = nullptr);

    // Once per tracker; later calls do nothing.
    void install(QWindow* window);
    bool installed() const { return m_installed; }

private:
    void restore();
    void save();

    QString m_storePath;
    QPointer<QWindow> m_window;
    QTimer m_settle;
    bool m_installed = false;
};
