#pragma once

#include "core/SerialQueue.h"
#include "limits/AgentLimitsService.h"

#include <QUuid>
#include <memory>
#include <optional>

// A watcher's subscription to its provider's limits: each broadcast is handed to the watcher's
// core on its own queue, while that core is alive. stop() ends it; calling it twice is harmless.
class LimitsSubscription {
public:
    template <typename Core>
    void start(std::shared_ptr<AgentLimitsService> service, const std::shared_ptr<Core>& core, SerialQueue* queue) {
        service_ = std::move(service);
        if (!service_) return;
        std::weak_ptr<Core> weak = core;
        token_ = service_->subscribe([weak, queue](const AgentLimits& limits) {
            queue->async([weak, limits] {
                if (auto c = weak.lock()) c->setLimits(limits);
            });
        });
    }

    void stop() {
        if (token_ && service_) service_->unsubscribe(*token_);
        token_.reset();
    }

private:
    std::shared_ptr<AgentLimitsService> service_;
    std::optional<QUuid> token_;
};
