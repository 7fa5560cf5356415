#pragma once

#include "platform/Dispatch.h"

namespace orvan {

// The app's main queue: Qt's event loop. Posting from any thread keeps that thread's order.
class QtMainQueue final : public MainQueue {
public:
    void post(Task task) override;
    void postAfter(Seconds delay, Task task) override;
};

}  // namespace orvan
