// --join: one image from bands rendered apart (on many machines, or as the
// tasks of a batch job), written as any image is: whole, or not at all.
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "driver/help.hpp"
#include "image/image.hpp"
#include "scene/scene.hpp"

namespace fotolume {

namespace {

// "TOP:FILE": the band's first row, then its file.
bool parseBand(const char* word, Band& band) {
    const std::string text = word;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 10 ||
        text.find_first_not_of("0123456789") < colon || colon + 1 == text.size())
        return false;
    band.top = std::stoll(text.substr(0, colon));
    band.file = text.substr(colon + 1);
    return band.top <= 2147483647LL;
}

}  // namespace

int joinCommand(const CommandLine& line) {
    if (line.operands.size() < 4)
        return usageError("--join takes IMAGE WIDTH HEIGHT and one TOP:BAND or more");
    warnIneffective(line);
    long long width = 0, height = 0;
    if (!imageSize(line.operands[1], line.operands[2], width, height)) return EXIT_USAGE;
    std::vector<Band> bands;
    for (std::size_t k = 3; k < line.operands.size(); ++k) {
        Band band;
        if (!parseBand(line.operands[k], band))
            return usageError("a band is TOP:FILE, its first row and its file, not '" +
                              printable(line.operands[k]) + "'");
        bands.push_back(band);
    }
    const char* imageName = line.operands[0];
    for (const Band& band : bands)
        if (sameFile(band.file.c_str(), imageName)) {
            std::fprintf(stderr,
                         "fotolume: the image %s is the band %s itself; nothing was written\n",
                         printable(imageName).c_str(), printable(band.file).c_str());
            return EXIT_FAILURE_INPUT;
        }
    const ImageFormat format = chooseFormat(line, imageName);
    if (format == ImageFormat::Png && width > MAX_PNG_WIDTH)
        return usageError("a PNG image is at most " + std::to_string(MAX_PNG_WIDTH) +
                          " pixels wide; write a PPM for wider images");
    ImageFile image;
    if (!image.open(imageName)) return EXIT_FAILURE_INPUT;
    const std::string problem = joinBands(image, format, width, height, bands);
    if (!problem.empty()) {
        // The image file goes with `image`: the previous image stays.
        std::fprintf(stderr, "fotolume: %s; %s was not written\n", problem.c_str(),
                     printable(imageName).c_str());
        return EXIT_FAILURE_INPUT;
    }
    return image.commit() ? EXIT_OK : EXIT_FAILURE_INPUT;
}

}  // namespace fotolume
