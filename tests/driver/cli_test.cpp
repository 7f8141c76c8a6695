// Runs the built binary the way a user does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
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

const std::string kTry = "\nTry 'fotolume --help' for more information.\n";

// Wrong operand counts and bad options: the usage message on standard
// output as it always was, a pointer to --help on standard error, status 2,
// and nothing written.
TEST(CommandLine, WrongArgumentsPrintUsageAndPointToHelp) {
    test::TempDir dir;
    const std::string out = dir.path("out.ppm");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } calls[] = {
        {{}, kTry},
        {{example(), out, "4"}, kTry},
        {{example(), out, "4", "3", "extra"}, kTry},
        {{"-q", example(), out, "4"}, kTry},
        {{"--\x1b[31mred\n", example(), out, "4", "3"},
         "\nfotolume: unknown option '--\\x1B[31mred\\x0A'\nTry 'fotolume --help' for more "
         "information.\n"},
        {{"--colour", example(), out, "4", "3"},
         "\nfotolume: unknown option '--colour'\nTry 'fotolume --help' for more information.\n"},
        {{"-t", "0", example(), out, "4", "3"},
         "\nfotolume: the thread count must be a whole number from 1 to 1024, not '0'" + kTry},
        {{"--threads=2x", example(), out, "4", "3"},
         "\nfotolume: the thread count must be a whole number from 1 to 1024, not '2x'" + kTry},
        {{"-t"},
         "\nfotolume: the thread count must be a whole number from 1 to 1024, not ''" + kTry},
        {{"--format", "gif", example(), out, "4", "3"},
         "\nfotolume: the format must be ppm or png, not 'gif'" + kTry},
        {{"--samples", "17", example(), out, "4", "3"},
         "\nfotolume: the samples must be a whole number from 1 to 16, not '17'" + kTry},
        {{"--samples=0", example(), out, "4", "3"},
         "\nfotolume: the samples must be a whole number from 1 to 16, not '0'" + kTry},
        {{"--aa-threshold", "nan", example(), out, "4", "3"},
         "\nfotolume: the anti-aliasing threshold must be a number from 0 to 1, not 'nan'" + kTry},
        {{"--region", "1,2,3", example(), out, "4", "3"},
         "\nfotolume: the region must be LEFT,TOP,WIDTH,HEIGHT in whole pixels, not '1,2,3'" +
             kTry},
        {{"--region=0,0,5,1", example(), out, "4", "3"},
         "\nfotolume: the region 0,0,5,1 reaches outside the 4x3 image" + kTry},
        {{"--region", "3,2,2,1", example(), out, "4", "3"},
         "\nfotolume: the region 3,2,2,1 reaches outside the 4x3 image" + kTry},
        {{"--region", "1,1,0,1", example(), out, "4", "3"},
         "\nfotolume: the region 1,1,0,1 is empty; its width and height must be at least 1 (the "
         "image is 4x3)" +
             kTry},
        {{"--aa-threshold=1.5", example(), out, "4", "3"},
         "\nfotolume: the anti-aliasing threshold must be a number from 0 to 1, not '1.5'" + kTry},
        // One number syntax for every value: no blanks, signs, hex or names.
        {{"--aa-threshold", " 0.5", example(), out, "4", "3"},
         "\nfotolume: the anti-aliasing threshold must be a number from 0 to 1, not ' 0.5'" + kTry},
        {{"--aa-threshold", "0x1p-1", example(), out, "4", "3"},
         "\nfotolume: the anti-aliasing threshold must be a number from 0 to 1, not '0x1p-1'" +
             kTry},
        {{"--aa-threshold", "+0.5", example(), out, "4", "3"},
         "\nfotolume: the anti-aliasing threshold must be a number from 0 to 1, not '+0.5'" + kTry},
        {{"--aa-threshold", "1e", example(), out, "4", "3"},
         "\nfotolume: the anti-aliasing threshold must be a number from 0 to 1, not '1e'" + kTry},
        {{"--samples", " 4", example(), out, "4", "3"},
         "\nfotolume: the samples must be a whole number from 1 to 16, not ' 4'" + kTry},
        // Options after the operands are read as options.
        {{example(), out, "4", "3", "--colour"},
         "\nfotolume: unknown option '--colour'\nTry 'fotolume --help' for more information.\n"},
        {{example(), out, "4", "--samples", "0", "3"},
         "\nfotolume: the samples must be a whole number from 1 to 16, not '0'" + kTry},
    };
    for (const auto& call : calls) {
        const test::RunResult run = runFotolume(call.args);
        EXPECT_EQ(run.status, EXIT_USAGE);
        EXPECT_EQ(run.out, kUsage);
        EXPECT_EQ(run.err, call.err);
        EXPECT_FALSE(test::exists(out));
    }
}

TEST(CommandLine, HelpVersionAndOptionForms) {
    test::TempDir dir;
    for (const char* help : {"-h", "--help"}) {
        const test::RunResult run = runFotolume({help});
        EXPECT_EQ(run.status, EXIT_OK);
        EXPECT_EQ(run.out.rfind("Usage: fotolume [OPTION]... SCENE IMAGE WIDTH HEIGHT\n", 0), 0u);
        EXPECT_NE(run.out.find("--threads"), std::string::npos);
        EXPECT_NE(run.out.find("scene-format.md"), std::string::npos);
        EXPECT_EQ(run.err, "");
    }
    const test::RunResult version = runFotolume({"--version"});
    EXPECT_EQ(version.status, EXIT_OK);
    EXPECT_EQ(version.out.rfind("fotolume 1.", 0), 0u) << version.out;
    // Text that cannot be written is an error, not a success.
    for (const char* option : {"--help", "--version"}) {
        const std::string err = dir.path("err");
        const std::string command =
            "'" + std::string(FOTOLUME_BINARY) + "' " + option + " >/dev/full 2>'" + err + "'";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_FAILURE_INPUT) << option;
        EXPECT_EQ(test::readFile(err), "fotolume: write error: No space left on device\n");
    }

    // Every spelling of the options, before the operands or among them,
    // renders the same image; "--" lets a scene name start with a dash.
    const std::string dashed = dir.write("-scene.txt", test::readFile(example()));
    const struct {
        std::vector<std::string> before, after;
    } forms[] = {{{example()}, {}},
                 {{"-t", "3", example()}, {}},
                 {{"-t2", "-q", example()}, {}},
                 {{"--threads", "1", example()}, {}},
                 {{"--threads=7", "--quiet", example()}, {}},
                 {{"--", dashed}, {}},
                 {{example()}, {"-t", "2", "--quiet"}},
                 {{"-q", example()}, {"--threads=3"}},
                 {{example()},
                  {
                      "--",
                  }}};
    std::string first;
    for (const auto& form : forms) {
        std::vector<std::string> args = form.before;
        const std::string out = dir.path("out" + std::to_string(&form - &forms[0]) + ".ppm");
        args.insert(args.end(), {out, "17", "5"});
        args.insert(args.end(), form.after.begin(), form.after.end());
        const test::RunResult run = runFotolume(args);
        EXPECT_EQ(run.status, EXIT_OK) << run.out << run.err;
        EXPECT_EQ(run.err, "");
        const std::string image = test::readFile(out);
        if (first.empty()) first = image;
        EXPECT_EQ(image, first);
        EXPECT_EQ(image.size(), 12u + 17 * 5 * 3);
    }
}

// The format comes from --format, else from the name (.png in any case);
// standard output is PPM unless asked. A PNG holds exactly the PPM's pixels,
// for odd sizes too; other image names get PPM bytes and a warning.
TEST(CommandLine, ImageFormatByNameOrOption) {
    test::TempDir dir;
    const struct {
        std::vector<std::string> options;
        std::string name;  // "-": standard output
        bool png;
        std::string err;
    } rows[] = {
        {{}, "x.png", true, ""},
        {{}, "x.PnG", true, ""},
        {{"--format", "ppm"}, "x.png", false, ""},
        {{"--format=png"}, "x.ppm", true, ""},
        {{}, "-", false, ""},
        {{"--format", "png"}, "-", true, ""},
        {{"--format", "png"}, "x.jpg", true, ""},
        {{},
         "x.jpg",
         false,
         "fotolume: warning: NAME will hold a binary PPM image, whatever its name says; name "
         "it .png or give --format png for a PNG\n"},
    };
    for (const auto& [width, height] : {std::pair{17, 5}, std::pair{1, 1}, std::pair{3, 40}}) {
        const std::string ppm = dir.path("reference.ppm");
        ASSERT_EQ(
            runFotolume({example(), ppm, std::to_string(width), std::to_string(height)}).status,
            EXIT_OK);
        const std::string reference = test::readFile(ppm);
        for (const auto& row : rows) {
            const std::string name = row.name == "-" ? "-" : dir.path(row.name);
            std::vector<std::string> args = row.options;
            args.insert(args.end(),
                        {example(), name, std::to_string(width), std::to_string(height)});
            const test::RunResult run = runFotolume(args);
            SCOPED_TRACE(row.name + " " + std::to_string(&row - rows));
            EXPECT_EQ(run.status, EXIT_OK);
            std::string err = row.err;
            if (!err.empty()) err.replace(err.find("NAME"), 4, name);
            EXPECT_EQ(run.err, err);
            const std::string file = row.name == "-" ? dir.write("stdout", run.out) : name;
            if (row.png) {
                EXPECT_EQ(test::pngAsPpm(file), reference);
                EXPECT_NE(test::readFile(file).find("tEXtSoftware"), std::string::npos);
                EXPECT_NE(test::readFile(file).find("fotolume 1."), std::string::npos);
            } else {
                EXPECT_EQ(test::readFile(file), reference);
            }
            std::remove(file.c_str());
        }
    }
    // Taller than common readers take by default: written, with a warning.
    const std::string tall = dir.path("tall.png");
    const test::RunResult run = runFotolume({"-q", example(), tall, "1", "1000001"});
    EXPECT_EQ(run.status, EXIT_OK);
    EXPECT_EQ(run.err,
              "fotolume: warning: the PNG will be 1000001 rows tall, and common readers refuse "
              "more than 1000000 rows unless told otherwise (libpng's default limit)\n");
    EXPECT_GT(test::readFile(tall).size(), 1000u);
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

    // Bytes from the command line are echoed escaped, as scene diagnostics are.
    const test::RunResult escaped = runFotolume({example(), out, "0\x1b[2J", "3"});
    EXPECT_EQ(escaped.status, EXIT_USAGE);
    EXPECT_EQ(escaped.err.rfind("Tamanho de imagem invalido: 0\\x1B[2J x 3 (", 0), 0u)
        << escaped.err;

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
    EXPECT_EQ(run.err, refused +
                           ":1:22: error: 11 lights are counted here, but only 0 complete rows "
                           "follow (past 10 lights, every counted row must be in the file)\n");
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
