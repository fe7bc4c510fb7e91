// Turns SIGTERM and SIGINT into a close of one window, as its close box does,
// so the program ends cleanly when the session ends or Ctrl+C is pressed.
// One at a time per process; the previous handlers come back when it goes.
#pragma once

#include <QObject>

#include "StopSignals.h"

class QSocketNotifier;
class QWidget;

class CSignalCloser : public QObject {
public:
    explicit CSignalCloser(QWidget* pWindow);
    ~CSignalCloser() override;
    CSignalCloser(const CSignalCloser&) = delete;
    CSignalCloser& operator=(const CSignalCloser&) = delete;

private:
    static void OnSignal(int nSignal);
    void OnSignalled();

    QWidget* m_pWindow;  // not owning
    int m_hRead = -1;    // the self-pipe: the handler writes, the event loop reads
    QSocketNotifier* m_pNotifier = nullptr;
    SStopSignalActions m_oldActions;  // given back when the closer goes
};
