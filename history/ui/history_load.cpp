#include "history/ui/history_load.h"

#include <utility>

namespace corvelle {

HistoryLoad::HistoryLoad(HistoryRequest request, Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)) {
    thread_ = std::thread([this, request = std::move(request)] {
        History history = LoadHistory(request, *this);
        QMetaObject::invokeMethod(
            this,
            [this, history = std::move(history)]() mutable { handlers_.done(std::move(history)); },
            Qt::QueuedConnection);
    });
}

HistoryLoad::~HistoryLoad() {
    cancelled_ = true;
    thread_.join();
}

void HistoryLoad::OnProgress(std::uint64_t bytesRead, std::uint64_t bytesTotal) {
    const int permille = bytesTotal == 0 ? 1000 : static_cast<int>(bytesRead * 1000 / bytesTotal);
    if (permille == std::exchange(permille_, permille)) {
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, permille] { handlers_.progress(permille); }, Qt::QueuedConnection);
}

void HistoryLoad::OnDay(const History& soFar) {
    QMetaObject::invokeMethod(
        this, [this, history = soFar]() mutable { handlers_.day(std::move(history)); },
        Qt::QueuedConnection);
}

}  // namespace corvelle
