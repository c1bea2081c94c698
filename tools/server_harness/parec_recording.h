#pragma once

// parec recording a private server's sink monitor into a file, in the background, as raw mono
// samples: what the tests compare with the clips they played.

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace lyravox::test {

class ParecRecording {
public:
    // `format` as parec names it (s16le, float32le). If parec cannot start, waitUntilRecording()
    // fails and the file stays empty.
    ParecRecording(const std::string& serverAddress, const std::string& device,
                   const std::string& format, int rateHz, std::filesystem::path file);
    ~ParecRecording() { stop(); }
    ParecRecording(const ParecRecording&) = delete;
    ParecRecording& operator=(const ParecRecording&) = delete;

    // parec connects in the background; whatever plays before it has begun is not in the file.
    // False if nothing arrived within five seconds.
    [[nodiscard]] bool waitUntilRecording() const;
    // Ends parec; false when it ignored the request to end and had to be killed. True at once
    // once it has ended.
    bool stop();

    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
    pid_t pid_ = 0;
};

}  // namespace lyravox::test
