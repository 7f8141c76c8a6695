// Runs the built binary the way a user does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using test::runFotolume;

const std::string kUsage =
    "      PARAMETROS INCORRETOS\nUSO CORRETO: fotolume entrada saida.ppm largura altura";

std::string example() { return test::sourcePath("scenes/example.txt"); }

TEST(CommandLine, WrongArgumentCountPrintsUsage) {
    test::TempDir dir;
    const std::string out = dir.path("out.ppm");
    const std::vector<std::vector<std::string>> calls = {
        {}, {example(), out, "4"}, {example(), out, "4", "3", "extra"}};
    for (const auto& args : calls) {
        const test::RunResult run = runFotolume(args);
        EXPECT_EQ(run.status, EXIT_USAGE);
        EXPECT_EQ(run.out, kUsage);
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(test::exists(out));
    }
}

TEST(CommandLine, SizesAreReadLikeAtoiAndBadOnesRefusedFirst) {
    EXPECT_EQ(parseSize(" +240"), 240);
    EXPECT_EQ(parseSize("320px"), 320);
    EXPECT_EQ(parseSize("abc"), 0);
    EXPECT_EQ(parseSize("-7"), -7);
    EXPECT_EQ(parseSize("99999999999999999999999"), 1LL << 31);

    test::TempDir dir;
    const std::string out = dir.path("out.ppm");
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"0", "10"},         {"10", "-1"},       {"abc", "10"},
        {"2147483648", "1"}, {"50000", "50000"}, {"99999999999999999999", "99999999999999999999"}};
    for (const auto& [width, height] : bad) {
        // A missing scene shows that the size is refused before any reading.
        const test::RunResult run = runFotolume({dir.path("missing.txt"), out, width, height});
        EXPECT_EQ(run.status, EXIT_USAGE) << width << " x " << height;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("Tamanho de imagem invalido: " + width + " x " + height, 0), 0u)
            << run.err;
        EXPECT_FALSE(test::exists(out));
    }

    const test::RunResult run = runFotolume({example(), out, " 320px", "+240"});
    EXPECT_EQ(run.status, EXIT_OK) << run.out << run.err;
    const std::string image = test::readFile(out);
    EXPECT_EQ(image.substr(0, 15), "P6\n320 240\n255\n");
    EXPECT_EQ(image.size(), 15u + 320 * 240 * 3);
}

TEST(CommandLine, FileFailuresExitNonZeroAndLeaveNoImage) {
    test::TempDir dir;
    const std::string out = dir.path("out.ppm");

    const std::string missing = dir.path("missing.txt");
    test::RunResult run = runFotolume({missing, out, "4", "3"});
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.out, "Nao foi possivel abrir o arquivo " + missing +
                           " , verifique o nome e tente novamente. \n");
    EXPECT_FALSE(test::exists(out));

    run = runFotolume({dir.path(""), out, "4", "3"});  // a directory is no scene
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.out.rfind("Nao foi possivel abrir o arquivo ", 0), 0u);
    EXPECT_FALSE(test::exists(out));

    const std::string noDir = dir.path("nowhere/out.ppm");
    run = runFotolume({example(), noDir, "4", "3"});
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.out, "Can't open file " + noDir + " \n");
    EXPECT_FALSE(test::exists(noDir));

    // A refused scene writes nothing.
    const std::string refused = dir.write("refused.txt", "0 0 5 0 0 0 0 1 0 60 11");
    run = runFotolume({refused, out, "4", "3"});
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, refused + ":1:22: error: 11 lights, but a scene holds at most 10\n");
    EXPECT_FALSE(test::exists(out));

    // A write that fails part-way (file size limit) removes the partial file.
    run = runFotolume({example(), out, "64", "64"}, "trap '' XFSZ; ulimit -f 1;");
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.err.rfind("Can't write file " + out + ": ", 0), 0u) << run.err;
    EXPECT_FALSE(test::exists(out));
}

// Buffers that cannot be allocated are reported, not a crash. (AddressSanitizer
// needs far more address space than this limit allows, so not under it.)
TEST(CommandLine, ImageBuffersThatDoNotFitAreReported) {
#ifdef FOTOLUME_SANITIZED
    GTEST_SKIP() << "a virtual-memory limit and AddressSanitizer do not mix";
#endif
    test::TempDir dir;
    const std::string out = dir.path("out.ppm");
    const test::RunResult run =
        runFotolume({example(), out, "20000", "20000"}, "ulimit -v 300000;");
    EXPECT_EQ(run.status, EXIT_FAILURE_INPUT);
    EXPECT_EQ(run.err, "Memoria insuficiente para uma imagem de 20000 x 20000 pixels\n");
    EXPECT_FALSE(test::exists(out));
}

TEST(CommandLine, NormalRunWritesTheImageAndNothingElse) {
    test::TempDir dir;
    const std::string out = dir.path("out.ppm");
    const test::RunResult run = runFotolume({example(), out, "8", "6"});
    EXPECT_EQ(run.status, EXIT_OK);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(test::readFile(out).size(), 15u - 4 + 8 * 6 * 3);  // "P6\n8 6\n255\n"
}

}  // namespace
}  // namespace fotolume
