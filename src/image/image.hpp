// Image output: the render loop that fills the channel buffers and the
// binary PPM writer.
#pragma once

namespace fotolume {

// Traces one primary ray per pixel (top row first, left to right) and stores
// each clamped color at row * imageWidth + col of the three buffers.
void renderImage(double* red, double* green, double* blue);

// The byte for one channel value: the exact product value * 255 truncated
// toward zero (not rounded to a double first); negative values and NaN give 0.
unsigned char channelByte(double value);

enum class WriteStatus {
    Ok,
    CannotOpen,  // "Can't open file ..." printed on standard output
    WriteError,  // reported on standard error; the partial file was removed
};

WriteStatus writePPM(const char* fileName, const double* red, const double* green,
                     const double* blue, int width, int height);

}  // namespace fotolume
