// Decodes a file's video into RGB pictures, for tests that look at the pixels a conversion wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

struct DecodedPicture {
    double time = 0; // seconds
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // width × height × 3, rows top-down

    // The mean of each channel (red, green, blue) over a rectangle.
    std::vector<double> Mean(int x, int y, int w, int h) const;
};

// Every picture of the first video stream; empty when the file has none.
std::vector<DecodedPicture> DecodePictures(const std::string& path);

} // namespace tarnel::test
