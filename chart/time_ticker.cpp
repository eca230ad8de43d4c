#include "chart/time_ticker.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace corvelle {

namespace {

bool BeforeX(const TimeTicker::Point& point, double x) {
    return point.x < x;
}

}  // namespace

void TimeTicker::SetLabel(double x, QString label) {
    // Points arrive in ascending x, so the usual case is a plain append.
    if (points_.empty() || x > points_.back().x) {
        points_.push_back({x, std::move(label)});
        return;
    }
    auto it = std::lower_bound(points_.begin(), points_.end(), x, BeforeX);
    if (it->x == x) {
        it->label = std::move(label);
    } else {
        points_.insert(it, {x, std::move(label)});
    }
}

const TimeTicker::Point* TimeTicker::Nearest(double x) const {
    if (points_.empty()) {
        return nullptr;
    }
    auto it = std::lower_bound(points_.begin(), points_.end(), x, BeforeX);
    if (it == points_.end()) {
        return &points_.back();
    }
    if (it == points_.begin()) {
        return &*it;
    }
    const auto before = std::prev(it);
    return x - before->x <= it->x - x ? &*before : &*it;
}

double TimeTicker::getTickStep(const QCPRange& range) {
    // Between whole points there is no time to show.
    return std::max(1.0, QCPAxisTicker::getTickStep(range));
}

QString TimeTicker::getTickLabel(double tick, const QLocale& /*locale*/, QChar /*formatChar*/,
                                 int /*precision*/) {
    const Point* point = Nearest(tick);
    return point != nullptr && std::abs(point->x - tick) < 0.5 ? point->label : QString();
}

}  // namespace corvelle
