#pragma once

#include <cstdint>

namespace corvelle {

// What the settings panel asks of the owner of the listening socket (the tab host).
class ListenToggler {
  public:
    virtual ~ListenToggler() = default;
    // Starts listening on port when not listening, stops otherwise; reports the outcome
    // through ListenStateSink::OnListenState before returning.
    virtual void ToggleListening(std::int32_t port) = 0;
};

// Where the tab host reports its listening state: 1 = listening, anything else = not.
class ListenStateSink {
  public:
    virtual ~ListenStateSink() = default;
    virtual void OnListenState(int state) = 0;
};

}  // namespace corvelle
