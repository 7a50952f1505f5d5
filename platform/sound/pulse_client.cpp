#include "platform/sound/pulse_client.h"

#include "platform/sound/level_meter.h"

#include <ctime>

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// A server answers a local question in well under a millisecond; this is for one that hangs.
constexpr auto kPatience = std::chrono::seconds(2);

struct ServerInfo {
    bool done = false;
    std::string defaultSink;
};

struct SinkInfo {
    std::string monitor;
};

struct SourceQuery {
    bool done = false;
    std::vector<SourceEntry>* found;
};

void TakeServerInfo(pa_context*, const pa_server_info* info, void* user) {
    auto* answer = static_cast<ServerInfo*>(user);
    if (info && info->default_sink_name) answer->defaultSink = info->default_sink_name;
    answer->done = true;
}

void TakeSinkInfo(pa_context*, const pa_sink_info* info, int, void* user) {
    auto* answer = static_cast<SinkInfo*>(user);
    if (info && info->monitor_source_name) answer->monitor = info->monitor_source_name;
}

void TakeSourceInfo(pa_context*, const pa_source_info* info, int last, void* user) {
    auto* answer = static_cast<SourceQuery*>(user);
    if (info)
        answer->found->push_back({info->name ? info->name : "",
                                  info->description ? info->description : "",
                                  info->monitor_of_sink != PA_INVALID_INDEX});
    if (last) answer->done = true;
}

// A new default output, or a source that came or went: a source being waited for may be there.
void OnServerEvent(pa_context*, pa_subscription_event_type_t type, uint32_t, void* user) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER ||
        (facility == PA_SUBSCRIPTION_EVENT_SOURCE && kind != PA_SUBSCRIPTION_EVENT_CHANGE))
        static_cast<std::atomic<bool>*>(user)->store(true);
}

} // namespace

int64_t SteadyTimeOf(const timeval& stamp) {
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    const int64_t age = (static_cast<int64_t>(wall.tv_sec) - stamp.tv_sec) * 1000000000 +
                        static_cast<int64_t>(wall.tv_nsec) - int64_t{stamp.tv_usec} * 1000;
    return SteadyNow() - age;
}

PulseClient::PulseClient(const std::atomic<bool>* stop) : stop_(stop), loop_(pa_mainloop_new()) {}

PulseClient::~PulseClient() {
    if (context_) {
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_) pa_mainloop_free(loop_);
}

bool PulseClient::Connect(std::string* why) {
    if (!loop_) {
        *why = "libpulse could not make its main loop";
        return false;
    }
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Vormel");
    if (!context_) {
        *why = "libpulse could not make a context";
        return false;
    }
    // A visualiser that starts a sound server of its own would only ever listen to silence.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        !RunUntil([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; })) {
        *why = Error();
        return false;
    }
    return true;
}

bool PulseClient::Connected() const {
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

std::string PulseClient::Error() const {
    if (!context_) return "not connected";
    const int error = pa_context_errno(context_);
    return error != PA_OK ? pa_strerror(error) : "the connection timed out";
}

// Preparing the wait empties the loop's wake-up pipe, so a Wake that came between the caller's
// last look at the stop and the prepare would be lost, and the poll would sleep out its timeout:
// the stop is looked at again once the wait is prepared, and wakes the poll itself.
void PulseClient::Spin(std::chrono::microseconds timeout) {
    if (gBeforeSpinWait) gBeforeSpinWait();
    if (pa_mainloop_prepare(loop_, static_cast<int>(timeout.count())) < 0) return;
    if (stop_ && stop_->load()) pa_mainloop_wakeup(loop_);
    if (pa_mainloop_poll(loop_) < 0) return;
    pa_mainloop_dispatch(loop_);
}

void PulseClient::Wake() {
    if (loop_) pa_mainloop_wakeup(loop_);
}

template <typename Done> bool PulseClient::RunUntil(Done done) {
    const Clock::time_point deadline = Clock::now() + kPatience;
    for (;;) {
        if (done()) return true;
        if (stop_ && stop_->load()) return false;
        const pa_context_state_t state = pa_context_get_state(context_);
        if (!PA_CONTEXT_IS_GOOD(state)) return false;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return false;
        Spin(std::chrono::duration_cast<std::chrono::microseconds>(left));
    }
}

bool PulseClient::Await(pa_operation* operation) {
    if (!operation) return false;
    const bool answered =
        RunUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
    if (!answered) pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return answered;
}

void PulseClient::WatchServer(std::atomic<bool>* changed) {
    pa_context_set_subscribe_callback(context_, OnServerEvent, changed);
    const auto mask =
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE);
    if (pa_operation* o = pa_context_subscribe(context_, mask, nullptr, nullptr))
        pa_operation_unref(o);
}

bool PulseClient::DefaultMonitor(std::string* monitor) {
    ServerInfo server;
    if (!Await(pa_context_get_server_info(context_, TakeServerInfo, &server)) || !server.done ||
        server.defaultSink.empty())
        return false;
    SinkInfo sink;
    if (!Await(pa_context_get_sink_info_by_name(context_, server.defaultSink.c_str(), TakeSinkInfo,
                                                &sink)) ||
        sink.monitor.empty())
        return false;
    *monitor = sink.monitor;
    return true;
}

bool PulseClient::Describe(const std::string& source, std::string* description) {
    std::vector<SourceEntry> found;
    SourceQuery query{false, &found};
    if (!Await(
            pa_context_get_source_info_by_name(context_, source.c_str(), TakeSourceInfo, &query)) ||
        found.empty())
        return false;
    *description = found.front().description;
    return true;
}

bool PulseClient::ListSources(std::vector<SourceEntry>* sources) {
    SourceQuery query{false, sources};
    return Await(pa_context_get_source_info_list(context_, TakeSourceInfo, &query)) && query.done;
}

} // namespace sound
