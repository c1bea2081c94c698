// Which sound output the program takes, for each combination of servers listening and of the
// variable that forces one. The servers here are bare listening sockets: choosing must only
// look, never talk to or wait for a server.
#include "platform/sound_output_factory.h"
#include "platform/sound_server_probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lyravox::platform {
namespace {

namespace fs = std::filesystem;

// A unix socket that listens and never accepts, as a stopped server would.
class ListeningSocket {
public:
    explicit ListeningSocket(const fs::path& path) {
        fs::create_directories(path.parent_path());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 4) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ListeningSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;
    bool ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

struct ChoiceCase {
    const char* name;
    const char* forced;  // LYRAVOX_SOUND_BACKEND, or none.
    bool pulseListens;
    bool pipeWireListens;
    const char* chosen;
};

std::ostream& operator<<(std::ostream& out, const ChoiceCase& c) {
    return out << c.name;
}

class SoundOutputChoice : public ::testing::TestWithParam<ChoiceCase> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lyravox-choice-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        runtime_ = pattern;
        // Nothing of the machine's own servers may be seen.
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        ::unsetenv("PULSE_SERVER");
        ::unsetenv("PULSE_RUNTIME_PATH");
        ::unsetenv("PIPEWIRE_REMOTE");
        ::unsetenv("PIPEWIRE_RUNTIME_DIR");
        ::unsetenv(kSoundBackendVariable);
        // A device SDL can always open, and never a loudspeaker.
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(runtime_, ignored);
    }

    fs::path runtime_;
};

TEST_P(SoundOutputChoice, TakesTheFirstServerThatListensUnlessOneIsForced) {
    const ChoiceCase& c = GetParam();
    std::optional<ListeningSocket> pulse;
    std::optional<ListeningSocket> pipeWire;
    if (c.pulseListens) {
        pulse.emplace(runtime_ / "pulse" / "native");
        ASSERT_TRUE(pulse->ok());
    }
    if (c.pipeWireListens) {
        pipeWire.emplace(runtime_ / "pipewire-0");
        ASSERT_TRUE(pipeWire->ok());
    }
    if (c.forced != nullptr)
        ::setenv(kSoundBackendVariable, c.forced, 1);

    EXPECT_EQ(pulseServerListening(), c.pulseListens);
    EXPECT_EQ(pipeWireDaemonListening(), c.pipeWireListens);
    const std::unique_ptr<SoundOutput> output = makeSoundOutput();
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->backendName(), c.chosen);
}

INSTANTIATE_TEST_SUITE_P(
        Cases, SoundOutputChoice,
        ::testing::Values(
                ChoiceCase{"NoServerTakesSdl", nullptr, false, false, "sdl"},
                ChoiceCase{"PulseListeningTakesPulse", nullptr, true, false, "pulseaudio"},
                ChoiceCase{"ForcedSdlDespitePulse", "sdl", true, false, "sdl"},
                ChoiceCase{"ForcedPulseWithoutServer", "pulseaudio", false, false, "pulseaudio"},
                ChoiceCase{"UnknownNameChoosesAsUsual", "alsa", true, false, "pulseaudio"},
                ChoiceCase{"ForcedPipeWireWithoutDaemonChoosesAsUsual", "pipewire", true, false,
                           "pulseaudio"},
                ChoiceCase{"EmptyNameChoosesAsUsual", "", false, false, "sdl"}),
        [](const auto& info) { return std::string(info.param.name); });

// A machine without PipeWire installed has no PipeWire configuration; its library, once loaded,
// says so on stderr. With no server, choosing must leave the program's one line of its own alone.
using QuietChoice = SoundOutputChoice;
TEST_F(QuietChoice, NoServerAndNoPipeWireConfigurationPrintsNothing) {
    ::setenv("PIPEWIRE_CONFIG_DIR", runtime_.c_str(), 1);
    testing::internal::CaptureStderr();
    const std::unique_ptr<SoundOutput> output = makeSoundOutput();
    const std::string printed = testing::internal::GetCapturedStderr();
    ::unsetenv("PIPEWIRE_CONFIG_DIR");
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->backendName(), "sdl");
    EXPECT_EQ(printed, "");
}

TEST(SoundBackendNames, KnownNamesMapAndAnUnknownOneIsRefusedWithTheKnownOnes) {
    EXPECT_EQ(soundBackendNamed("pipewire"), SoundBackend::PipeWire);
    EXPECT_EQ(soundBackendNamed("pulseaudio"), SoundBackend::PulseAudio);
    EXPECT_EQ(soundBackendNamed("sdl"), SoundBackend::Sdl);
    try {
        soundBackendNamed("Pulse");
        FAIL() << "an unknown name was accepted";
    } catch (const std::invalid_argument& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("\"Pulse\""), std::string::npos) << message;
        EXPECT_NE(message.find("pipewire, pulseaudio, sdl"), std::string::npos) << message;
    }
}

// PULSE_SERVER's forms: a list, "unix:" paths, bare paths; a dead path is no server.
TEST(SoundServerProbe, PulseServerVariableIsReadAsLibpulseReadsIt) {
    char pattern[] = "/tmp/lyravox-probe-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    ListeningSocket live(dir / "live");
    ASSERT_TRUE(live.ok());
    const std::string livePath = (dir / "live").string();
    const std::string deadPath = (dir / "dead").string();
    struct Row {
        std::string value;
        bool listening;
    };
    for (const Row& row :
         {Row{"unix:" + livePath, true}, Row{livePath, true}, Row{"unix:" + deadPath, false},
          Row{"unix:" + deadPath + " unix:" + livePath, true}, Row{"tcp:localhost:4713", true}}) {
        ::setenv("PULSE_SERVER", row.value.c_str(), 1);
        EXPECT_EQ(pulseServerListening(), row.listening) << row.value;
    }
    ::unsetenv("PULSE_SERVER");
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace lyravox::platform
