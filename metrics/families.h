#pragma once

#include <prometheus/client_metric.h>
#include <prometheus/metric_family.h>

#include <string>
#include <utility>
#include <vector>

namespace corvelle {

// How the collectors build what they hand to a scrape: a family, then its samples.
inline prometheus::MetricFamily Family(std::string name, std::string help,
                                       prometheus::MetricType type) {
    return {std::move(name), std::move(help), type, {}};
}

// A counter's or a gauge's sample, as the family's type says.
inline void AddSample(prometheus::MetricFamily& family, double value,
                      std::vector<prometheus::ClientMetric::Label> labels = {}) {
    prometheus::ClientMetric metric;
    metric.label = std::move(labels);
    if (family.type == prometheus::MetricType::Counter) {
        metric.counter.value = value;
    } else {
        metric.gauge.value = value;
    }
    family.metric.push_back(std::move(metric));
}

// A family of one sample without labels.
inline void AddSingle(std::vector<prometheus::MetricFamily>& families, std::string name,
                      std::string help, prometheus::MetricType type, double value) {
    prometheus::MetricFamily family = Family(std::move(name), std::move(help), type);
    AddSample(family, value);
    families.push_back(std::move(family));
}

}  // namespace corvelle
