#include "pausable_wait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace logdesk {

void PausableWait(int milliseconds, const bool& stop) {
    if (milliseconds <= 0 || stop) {
        return;
    }
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop || clock.elapsed() >= milliseconds) {
            loop.quit();
        }
    });
    poll.start();
    loop.exec();
}

} // namespace logdesk
