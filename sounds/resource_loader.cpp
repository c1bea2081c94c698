#include "sounds/resource_loader.h"

#include "sounds/clip_catalogue.h"

#include <algorithm>

namespace lyravox::sounds {
namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

std::string describe(std::string_view name, std::string_view type) {
    return "no resource named \"" + std::string(name) + "\" of type \"" + std::string(type) + "\"";
}

}  // namespace

ResourceNotFound::ResourceNotFound(std::string_view name, std::string_view type)
    : std::runtime_error(describe(name, type)) {}

std::vector<std::uint8_t> loadResource(std::string_view name, std::string_view type) {
    if (equalIgnoringAsciiCase(type, kWaveResourceType)) {
        for (const embedded::ClipImage* image : embedded::kCatalogue) {
            if (equalIgnoringAsciiCase(name, image->resourceName))
                return {image->bytes, image->bytes + image->size};
        }
    }
    throw ResourceNotFound(name, type);
}

std::vector<std::string_view> resourceNames(std::string_view type) {
    std::vector<std::string_view> names;
    if (equalIgnoringAsciiCase(type, kWaveResourceType)) {
        for (const embedded::ClipImage* image : embedded::kCatalogue)
            names.push_back(image->resourceName);
    }
    return names;
}

}  // namespace lyravox::sounds
