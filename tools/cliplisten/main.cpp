// Writes the embedded clips as WAVE files, byte for byte as the program carries them, and a
// spectrogram PNG of each beside them, so that a person can listen to a build's clips and look
// at them (run it on two builds to compare before and after a change to the synthesis).
#include "sounds/resource_loader.h"
#include "spectrogram.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: cliplisten DIR\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "cliplisten: cannot create " << folder << ": " << error.message() << "\n";
        return 1;
    }
    using lyravox::sounds::kWaveResourceType;
    constexpr std::size_t kHeaderBytes = 44;
    for (std::string_view name : lyravox::sounds::resourceNames(kWaveResourceType)) {
        const auto image = lyravox::sounds::loadResource(name, kWaveResourceType);
        const std::filesystem::path wave = folder / (std::string(name) + ".wav");
        std::ofstream out(wave, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
        out.close();
        if (!out) {
            std::cerr << "cliplisten: cannot write " << wave << "\n";
            return 1;
        }
        std::vector<std::int16_t> samples((image.size() - kHeaderBytes) / 2);
        std::memcpy(samples.data(), image.data() + kHeaderBytes, samples.size() * 2);
        const std::filesystem::path picture = folder / (std::string(name) + ".png");
        if (!lyravox::tools::spectrogram(samples, 44100.0)
                     .save(QString::fromStdString(picture.string()), "PNG")) {
            std::cerr << "cliplisten: cannot write " << picture << "\n";
            return 1;
        }
        std::cout << wave.string() << " " << picture.string() << "\n";
    }
    return 0;
}
