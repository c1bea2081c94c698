// Writes the embedded clips, byte for byte as the program carries them, as WAVE files in a
// folder, so that anyone can listen to them and measure them with their own tools.
#include "sounds/resource_loader.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: clipdump DIR\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "clipdump: cannot create " << folder << ": " << error.message() << "\n";
        return 1;
    }
    using lyravox::sounds::kWaveResourceType;
    for (std::string_view name : lyravox::sounds::resourceNames(kWaveResourceType)) {
        const auto image = lyravox::sounds::loadResource(name, kWaveResourceType);
        const std::filesystem::path file = folder / (std::string(name) + ".wav");
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
        out.close();
        if (!out) {
            std::cerr << "clipdump: cannot write " << file << "\n";
            return 1;
        }
        std::cout << file.string() << " " << image.size() << " bytes\n";
    }
    return 0;
}
