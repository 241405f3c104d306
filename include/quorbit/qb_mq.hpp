/*
 * The component's message queue in C++ (qb_mq.h); conventions in
 * qb_result.hpp.
 *
 *   auto mq = qb::MessageQueue::open([](qb::MqRef q, std::string_view port,
 *                                       std::string_view data, std::string_view id) {
 *       (void)q.send("out1", data, id);
 *   });
 *
 * The handler runs on the queue's receive thread; the views are valid only
 * during the call. Destroying the queue (never from its own handler) returns
 * once the receive thread has left, so the handler is not called afterwards.
 */
#ifndef QB_MQ_HPP
#define QB_MQ_HPP

#include <functional>
#include <memory>
#include <string_view>
#include <utility>

#include "qb_mq.h"
#include "qb_result.hpp"

namespace qb {

// A queue the caller does not own: what handlers get to answer through.
class MqRef {
public:
    explicit MqRef(Qb_mq mq = nullptr) : mq_(mq) {}
    // Answers the request request_id (type "call").
    Result<void> send(std::string_view port, std::string_view data, std::string_view request_id) const {
        return detail::check(qb_mq_send(mq_, detail::CStr(port), detail::CStr(data), detail::CStr(request_id)),
                             "qb_mq_send");
    }
    // A message of the component's own accord (type "trigger" with a fresh id).
    Result<void> trigger(std::string_view port, std::string_view data) const {
        return detail::check(qb_mq_send(mq_, detail::CStr(port), detail::CStr(data), nullptr), "qb_mq_send");
    }
    Qb_mq native() const { return mq_; }

protected:
    Qb_mq mq_;
};

class MessageQueue : public MqRef {
public:
    using Handler = std::function<void(MqRef mq, std::string_view port, std::string_view data,
                                       std::string_view request_id)>;

    // qb_mq_init and qb_mq_register_callback: the platform's queue or the
    // stand-alone one, with handler registered.
    static Result<MessageQueue> open(Handler handler) {
        auto state = std::make_unique<Handler>(std::move(handler));
        Qb_mq mq = qb_mq_init();
        if (!mq) return Error{-1, "qb_mq_init"};
        MessageQueue q(mq, std::move(state));
        if (int rc = qb_mq_register_callback(mq, &on_message, q.handler_.get()); rc != 0)
            return Error{rc, "qb_mq_register_callback"};
        return q;
    }

    MessageQueue(MessageQueue&& o) noexcept : MqRef(std::exchange(o.mq_, nullptr)), handler_(std::move(o.handler_)) {}
    MessageQueue& operator=(MessageQueue&& o) noexcept {
        if (this != &o) {
            (void)close();
            mq_ = std::exchange(o.mq_, nullptr);
            handler_ = std::move(o.handler_);
        }
        return *this;
    }
    ~MessageQueue() { (void)close(); }

    // qb_mq_deinit: returns once the receive thread has left.
    Result<void> close() {
        if (!mq_) return {};
        int rc = qb_mq_deinit(std::exchange(mq_, nullptr));
        handler_.reset();
        return detail::check(rc, "qb_mq_deinit");
    }

private:
    MessageQueue(Qb_mq mq, std::unique_ptr<Handler> h) : MqRef(mq), handler_(std::move(h)) {}
    static void on_message(Qb_mq mq, char* port, char* data, char* id, void* user) noexcept {
        auto* h = static_cast<Handler*>(user);
        if (*h) (*h)(MqRef(mq), detail::view(port), detail::view(data), detail::view(id));
    }
    std::unique_ptr<Handler> handler_;
};

}  // namespace qb

#endif /* QB_MQ_HPP */
