#include "ui/FrameTracker.h"

#include "ui/WindowFrame.h"

#include <QSettings>
#include <QWindow>

FrameTracker::FrameTracker(QString storePath, QObject* parent)
    : QObject(parent), m_storePath(std::move(storePath)) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, &FrameTracker::save);
}

void FrameTracker::install(QWindow* window) {
    if (m_installed || !window)
        return;
    m_installed = true;
    m_window = window;
    QTimer::singleShot(0, this, &FrameTracker::restore);
    QTimer::singleShot(settleMs, this, &FrameTracker::restore);
    auto settle = [this] { m_settle.start(); };
    connect(window, &QWindow::xChanged, this, settle);
    connect(window, &QWindow::yChanged, this, settle);
    connect(window, &QWindow::widthChanged, this, settle);
    connect(window, &QWindow::heightChanged, this, settle);
}

void FrameTracker::restore() {
    if (!m_window)
        return;
    // QSettings on the same file shares one cache per process, so this sees what the
    // settings object wrote and the settings object sees this write.
    const QSettings store(m_storePath, QSettings::IniFormat);
    if (const auto frame = WindowFrame::restorable(store.value(key).toString()))
        m_window->setGeometry(*frame);
}

void FrameTracker::save() {
    if (!m_window)
        return;
    QSettings store(m_storePath, QSettings::IniFormat);
    store.setValue(key, WindowFrame::format(m_window->geometry()));
}
