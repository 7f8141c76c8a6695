// Options beyond the render's own: the ones that change nothing where they
// are given, and the help's pointer to the installed guide. Runs the built
// binary.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "support/support.hpp"

namespace fotolume {
namespace {

using test::runFotolume;

std::string example() { return test::sourcePath("scenes/example.txt"); }

// Options that change nothing in the run they are given to are said; a
// call of exactly four words whose first is no option is four operands,
// whatever they look like.
TEST(CommandLine, OptionsWithoutEffectAreSaid) {
    test::TempDir dir;
    const std::string out = dir.path("out.ppm");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } rows[] = {
        {{"--check", "--threads", "2", "--samples", "3", example()},
         "fotolume: warning: --threads has no effect with --check\n"
         "fotolume: warning: --samples has no effect with --check\n"},
        {{"--check", example(), "--quiet", "--stats"},
         "fotolume: warning: --quiet has no effect with --check\n"
         "fotolume: warning: --stats has no effect with --check\n"},
        {{"--aa-threshold", "0.5", example(), out, "4", "3"},
         "fotolume: warning: --aa-threshold has no effect without --samples N (N at least 2)\n"},
        {{example(), out, "4", "3", "--samples", "2", "--aa-threshold", ".5"}, ""},
        {{"--port", "8000", "--listen=0.0.0.0", example(), out, "4", "3"},
         "fotolume: warning: --port has no effect without --serve\n"
         "fotolume: warning: --listen has no effect without --serve\n"},
    };
    for (const auto& row : rows) {
        const test::RunResult run = runFotolume(row.args);
        EXPECT_EQ(run.status, EXIT_OK) << row.err;
        EXPECT_EQ(run.err, row.err);
    }
    // An image named like an option, in a four-word call.
    const test::RunResult run =
        runFotolume({example(), "-q", "4", "3"}, "cd '" + dir.path("") + "';");
    EXPECT_EQ(run.status, EXIT_OK) << run.err;
    EXPECT_EQ(test::readFile(dir.path("-q")).size(), 11u + 4 * 3 * 3);
}

// The preview's own mistakes are refused before anything is served.
TEST(CommandLine, ThePreviewRefusesWhatItCannotServe) {
#ifndef FOTOLUME_HAVE_SERVE
    GTEST_SKIP() << "this build has no preview program (it needs Boost)";
#endif
    const std::string tryHelp = "\nTry 'fotolume --help' for more information.\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } rows[] = {
        {{"--serve", example(), "4"},
         "\nfotolume: --serve takes three operands: SCENE WIDTH HEIGHT" + tryHelp},
        {{"--serve", example(), "out.ppm", "4", "3"},
         "\nfotolume: --serve takes three operands: SCENE WIDTH HEIGHT" + tryHelp},
        {{"--serve", "--port", "0", example(), "4", "3"},
         "\nfotolume: the port must be a whole number from 1 to 65535, not '0'" + tryHelp},
        {{"--serve", "--port=65536", example(), "4", "3"},
         "\nfotolume: the port must be a whole number from 1 to 65535, not '65536'" + tryHelp},
        {{"--serve", example(), "4097", "4097"},
         "\nfotolume: the page shows images of at most 16777216 pixels (4096x4096); render larger "
         "ones to a file" +
             tryHelp},
        {{"--serve", example(), "0", "3"},
         "Tamanho de imagem invalido: 0 x 3 (largura e altura devem ser pelo menos 1 e largura x "
         "altura no maximo 2147483647 pixels)\n"},
    };
    for (const auto& row : rows) {
        const test::RunResult run = runFotolume(row.args);
        EXPECT_EQ(run.status, EXIT_USAGE) << row.err;
        EXPECT_EQ(run.err, row.err);
    }
}

// Installed with any prefix, the help names the guide where it went; where
// it is not installed, it says so.
TEST(CommandLine, TheHelpNamesTheGuideWhereItIsInstalled) {
    test::TempDir dir;
    const std::string prefix = dir.path("prefix");
    ASSERT_EQ(std::system(("cmake --install '" + std::string(FOTOLUME_BUILD_DIR) + "' --prefix '" +
                           prefix + "' >/dev/null")
                              .c_str()),
              0);
    const std::string installed = dir.path("installed-help");
    ASSERT_EQ(std::system(("'" + prefix + "/bin/fotolume' --help >'" + installed + "'").c_str()),
              0);
#ifdef FOTOLUME_PORTABLE
    // Without the program's own path, only the configured prefix is looked at.
    if (!test::exists(FOTOLUME_DOC_DIR "/scene-format.md")) {
        EXPECT_NE(test::readFile(installed).find("is not installed here"), std::string::npos);
    }
    return;
#endif
    EXPECT_NE(test::readFile(installed).find("The scene file format: " + prefix +
                                             "/share/doc/fotolume/scene-format.md,\n"),
              std::string::npos)
        << test::readFile(installed);
    ASSERT_EQ(std::system(("cp '" + prefix + "/bin/fotolume' '" + dir.path("alone") + "'").c_str()),
              0);
    ASSERT_EQ(std::system(("'" + dir.path("alone") + "' --help >'" + installed + "'").c_str()), 0);
    if (!test::exists(FOTOLUME_DOC_DIR "/scene-format.md")) {
        EXPECT_NE(test::readFile(installed).find("(scene-format.md) is not installed here"),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace fotolume
