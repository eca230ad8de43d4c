#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace corvelle {

// A part that may still have something to write when the program stops (recording,
// publishing).
class Drain {
  public:
    virtual ~Drain() = default;
    // Starts writing out what is left; returns at once.
    virtual void BeginDrain() = 0;
    virtual bool Drained() const = 0;
    // Gives up on what is still unwritten and says how much that was ("12 rows"); empty when
    // nothing was left.
    virtual std::string Abandon() = 0;
};

// Drains every part side by side within one deadline, on the event loop.
class OrderlyStop final : public QObject {
    Q_OBJECT

  public:
    static constexpr int kDeadlineMs = 2000;

    // done gets what each part left unwritten at the deadline (nothing: all written).
    void Run(std::vector<Drain*> drains, std::function<void(std::vector<std::string>)> done);
    bool Running() const { return poll_.isActive(); }

  private:
    void Check();

    std::vector<Drain*> drains_;
    std::function<void(std::vector<std::string>)> done_;
    QElapsedTimer clock_;
    QTimer poll_;
};

}  // namespace corvelle
