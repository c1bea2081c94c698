#include "bench/pipewire_graph_profiler.h"

#include <atomic>
#include <cstring>
#include <pipewire/extensions/profiler.h>
#include <pipewire/impl.h>
#include <pipewire/pipewire.h>
#include <spa/param/profiler.h>
#include <spa/pod/iter.h>
#include <spa/pod/parser.h>

namespace lyravox::bench {
namespace {

// The activation status of a node whose work in the cycle is done.
constexpr std::int32_t kNodeFinished = 3;

}  // namespace

struct GraphProfiler::State {
    explicit State(std::string name) : nodeName(std::move(name)) {}

    static void onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t,
                         const spa_dict* props);
    static void onProfile(void* data, const spa_pod* pod);
    void countProfile(const spa_pod* pod);

    const std::string nodeName;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    pw_registry_events registryEvents{};
    pw_proxy* profiler = nullptr;
    spa_hook profilerListener{};
    pw_profiler_events profilerEvents{};

    // The loop thread writes these; any thread reads them.
    std::atomic<bool> attached{false};
    std::atomic<std::uint32_t> nodeId{SPA_ID_INVALID};
    std::atomic<std::uint64_t> nodeCycles{0};
    std::atomic<std::uint64_t> nodeLateCycles{0};
    std::atomic<std::uint64_t> driverXruns{0};
    // Loop thread only: the driver's count when first seen, so only later xruns count.
    bool haveFirstXruns = false;
    std::int32_t firstXruns = 0;
};

void GraphProfiler::State::onGlobal(void* data, uint32_t id, uint32_t, const char* type, uint32_t,
                                    const spa_dict* props) {
    auto* s = static_cast<State*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0 && props != nullptr) {
        const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
        if (name != nullptr && s->nodeName == name)
            s->nodeId.store(id);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Profiler) == 0 && s->profiler == nullptr) {
        s->profiler = static_cast<pw_proxy*>(
                pw_registry_bind(s->registry, id, type, PW_VERSION_PROFILER, 0));
        if (s->profiler == nullptr)
            return;
        s->profilerEvents.version = PW_VERSION_PROFILER_EVENTS;
        s->profilerEvents.profile = onProfile;
        pw_proxy_add_object_listener(s->profiler, &s->profilerListener, &s->profilerEvents, s);
        s->attached.store(true);
    }
}

void GraphProfiler::State::onProfile(void* data, const spa_pod* pod) {
    static_cast<State*>(data)->countProfile(pod);
}

// One Profiler object per graph cycle: the driver's info (with its running xrun count) and a
// block per follower that took part.
void GraphProfiler::State::countProfile(const spa_pod* pod) {
    if (!spa_pod_is_struct(pod))
        return;
    const std::uint32_t ourId = nodeId.load();
    const auto* body = static_cast<const std::uint8_t*>(SPA_POD_BODY(pod));
    const std::uint32_t size = SPA_POD_BODY_SIZE(pod);
    for (auto* object = static_cast<const spa_pod*>(static_cast<const void*>(body));
         spa_pod_is_inside(body, size, object);
         object = static_cast<const spa_pod*>(spa_pod_next(object))) {
        if (!spa_pod_is_object_type(object, SPA_TYPE_OBJECT_Profiler))
            continue;
        const auto* profile = reinterpret_cast<const spa_pod_object*>(object);
        const spa_pod_prop* prop = spa_pod_prop_first(&profile->body);
        for (; spa_pod_prop_is_inside(&profile->body, profile->pod.size, prop);
             prop = spa_pod_prop_next(prop)) {
            if (prop->key == SPA_PROFILER_info) {
                std::int64_t counter = 0;
                float load[3] = {};
                std::int32_t xruns = 0;
                if (spa_pod_parse_struct(&prop->value, SPA_POD_Long(&counter),
                                         SPA_POD_Float(&load[0]), SPA_POD_Float(&load[1]),
                                         SPA_POD_Float(&load[2]), SPA_POD_Int(&xruns)) < 0)
                    continue;
                if (!haveFirstXruns) {
                    haveFirstXruns = true;
                    firstXruns = xruns;
                }
                if (xruns >= firstXruns)
                    driverXruns.store(static_cast<std::uint64_t>(xruns - firstXruns));
            } else if (prop->key == SPA_PROFILER_followerBlock) {
                std::int32_t id = 0;
                const char* name = nullptr;
                std::int64_t prevSignal = 0, signal = 0, awake = 0, finish = 0;
                std::int32_t status = 0;
                if (spa_pod_parse_struct(&prop->value, SPA_POD_Int(&id), SPA_POD_String(&name),
                                         SPA_POD_Long(&prevSignal), SPA_POD_Long(&signal),
                                         SPA_POD_Long(&awake), SPA_POD_Long(&finish),
                                         SPA_POD_Int(&status)) < 0)
                    continue;
                if (static_cast<std::uint32_t>(id) != ourId)
                    continue;
                nodeCycles.fetch_add(1);
                if (status != kNodeFinished)
                    nodeLateCycles.fetch_add(1);
            }
        }
    }
}

GraphProfiler::GraphProfiler(std::string nodeName)
    : state_(std::make_unique<State>(std::move(nodeName))) {
    pw_init(nullptr, nullptr);
    State& s = *state_;
    s.loop = pw_thread_loop_new("graph-profiler", nullptr);
    if (s.loop == nullptr)
        return;
    s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
    if (s.context == nullptr)
        return;
    // The client side of the profiler's protocol.
    pw_context_load_module(s.context, PW_EXTENSION_MODULE_PROFILER, nullptr, nullptr);
    s.core = pw_context_connect(s.context, nullptr, 0);
    if (s.core == nullptr)
        return;
    s.registry = pw_core_get_registry(s.core, PW_VERSION_REGISTRY, 0);
    s.registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    s.registryEvents.global = State::onGlobal;
    pw_registry_add_listener(s.registry, &s.registryListener, &s.registryEvents, &s);
    pw_thread_loop_start(s.loop);
}

GraphProfiler::~GraphProfiler() {
    State& s = *state_;
    if (s.loop != nullptr)
        pw_thread_loop_stop(s.loop);
    if (s.profiler != nullptr)
        pw_proxy_destroy(s.profiler);
    if (s.registry != nullptr)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s.registry));
    if (s.core != nullptr)
        pw_core_disconnect(s.core);
    if (s.context != nullptr)
        pw_context_destroy(s.context);
    if (s.loop != nullptr)
        pw_thread_loop_destroy(s.loop);
}

bool GraphProfiler::attached() const {
    return state_->attached.load();
}

GraphProfiler::Counts GraphProfiler::counts() const {
    return {state_->nodeCycles.load(), state_->nodeLateCycles.load(), state_->driverXruns.load()};
}

}  // namespace lyravox::bench
