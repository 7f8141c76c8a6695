// Scene description: the global tables, the scene file
// reader and the camera set-up that ends reading.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "geometry/vetor.hpp"

namespace fotolume {

// pi to ten decimals, not the full-precision constant: the image plane's
// size (and so every ray) and the gradient's blend depend on it.
constexpr double PI_TEN_DIGITS = 3.1415926536;

// Within these counts a section may end early: the rows the file lacks are
// zero rows, as scenes written for tables of these sizes expect. Past them
// a count is a promise that every row follows, and a section the file does
// not fill is refused. Either way the tables grow with the rows read.
constexpr int CLASSIC_LIGHTS = 10;
constexpr int CLASSIC_PIGMENTS = 20;
constexpr int CLASSIC_FINISHES = 50;
constexpr int CLASSIC_OBJECTS = 200;
constexpr int KIND_SIZE = 10;  // a type word of at most 9 characters and its terminator

// A type word as read: at most 9 characters and a terminator, usable where
// the character array is.
struct KindWord {
    using Text = char[KIND_SIZE];
    Text text = {};
    operator Text&() { return text; }
    operator const Text&() const { return text; }
};

// Type words matched once when the scene is read, so the inner loops never
// compare strings; Unknown stands for any other word (or none).
enum class PigmentType : unsigned char { Unknown, Solid, Checker, Gradient };
enum class ObjectType : unsigned char { Unknown, Sphere, Triangle, Disc, Mesh, Smooth };

PigmentType pigmentTypeOf(const char* word);
ObjectType objectTypeOf(const char* word);

// Camera and image globals.
extern Vetor eye;
extern Vetor cameraRight;
extern Vetor cameraUp;
extern Vetor cameraBack;
extern int imageWidth;
extern int imageHeight;
extern double planeWidth;
extern double planeHeight;
extern double pixelSize;
// Recursion depth of traceRay, 0 at the start of every primary ray. One per
// thread: each render thread traces its own rays.
inline thread_local int traceDepth = 0;
extern Vetor backgroundColor;

// Light table: row 0 is the ambient light (only its color is used).
extern int lightCount;
extern std::vector<Vetor> lightPosition;
extern std::vector<Vetor> lightColor;
extern std::vector<Vetor> lightAttenuation;

// Pigment table. solid uses color1; checker color1, color2 and size;
// gradient origin, direction, color1 and color2.
extern int pigmentCount;
extern std::vector<KindWord> pigmentKind;
extern std::vector<PigmentType> pigmentType;
extern std::vector<Vetor> pigmentColor1;
extern std::vector<Vetor> pigmentColor2;
extern std::vector<Vetor> pigmentOrigin;
extern std::vector<Vetor> pigmentDirection;
extern std::vector<double> pigmentSize;

// Finish table, column by column in the order of the scene file.
extern int finishCount;
extern std::vector<double> finishAmbient;
extern std::vector<double> finishDiffuse;
extern std::vector<double> finishSpecular;
extern std::vector<double> finishShininess;
extern std::vector<double> finishReflection;
extern std::vector<double> finishTransmission;
extern std::vector<double> finishIor;

// Object table. The columns each kind uses (the others stay zero):
//   sphere    pointA = centre, radius
//   triangle  pointA, pointB, pointC = the vertices A, B, C
//   disc      pointA = centre, radius, pointB = the normal (any length)
// pigment and finish are row numbers in their tables, for every kind.
extern int objectCount;
extern std::vector<int> objectPigment;
extern std::vector<int> objectFinish;
extern std::vector<KindWord> objectKind;
extern std::vector<ObjectType> objectType;
extern std::vector<Vetor> objectPointA;
extern std::vector<Vetor> objectPointB;
extern std::vector<Vetor> objectPointC;
extern std::vector<double> objectRadius;

// The vertices and faces of a mesh or smooth row, packed: a corner shared by
// many faces is stored once. Rows of other kinds have none.
struct MeshRow {
    int row = -1;                 // its object row
    std::vector<double> points;   // x y z of each vertex
    std::vector<double> normals;  // smooth: nx ny nz of each vertex (any nonzero length)
    std::vector<int> faces;       // a b c of each face, 0-based vertex numbers
    bool smooth = false;          // the row's normals are interpolated

    long long vertexCount() const { return static_cast<long long>(points.size() / 3); }
    long long faceCount() const { return static_cast<long long>(faces.size() / 3); }
    const double* point(int v) const { return points.data() + 3 * static_cast<std::size_t>(v); }
};
// In the order of their rows.
extern std::vector<MeshRow> meshes;
// The mesh of an object row (nullptr for a row of another kind).
const MeshRow* meshOfRow(int row);
// Faces of every mesh row together.
long long meshFaceCount();

// The line of the scene file where each row of each table starts, as the
// reader found it (0 where it is not known: a row after a value that failed
// to convert, or a table written by hand). For explanations that name rows.
// And for tools that add rows to a scene's text: where the pigment and
// object counts stand and where their sections end (byte offsets; -1 when
// not read).
struct RowLines {
    std::vector<long> lights, pigments, finishes, objects;
    long pigmentCountAt = -1, pigmentsEnd = -1;
    long objectCountAt = -1, objectsEnd = -1;
};
extern RowLines rowLines;
long lineOfRow(const std::vector<long>& lines, int row);

// Grow every column of a table to at least `rows` rows; new rows are zero
// rows (zero vectors and numbers, no type word).
void growLights(int rows);
void growPigments(int rows);
void growFinishes(int rows);
void growObjects(int rows);

// The camera as the file gives it (the look-at point, up vector and field
// of view are kept nowhere else): for showing what was read.
struct CameraInput {
    Vetor lookAt, up;
    double fieldOfView = 0.0;
};
extern CameraInput cameraInput;

// Puts every table and camera global back to its start-up value, for callers
// that read more than one scene in a process (tests, the fuzzer).
void resetScene();

// Raised whenever the tables are rewritten, so what is derived from them
// (the search structure) is rebuilt. Call sceneChanged after editing the
// tables by hand (tests, tools); reading and resetting call it.
extern unsigned sceneVersion;
void sceneChanged();

// Largest scene text read, from a file or a stream, in MiB: room for a few
// million objects, and a bound on the time and memory a runaway pipe or an
// endless device can take. --scene-limit sets it.
constexpr long long DEFAULT_SCENE_LIMIT_MIB = 1024;
extern long long sceneLimitMib;

// Text as a diagnostic prints it: bytes that are not printable ASCII
// (escape sequences, line ends) as \xNN.
std::string printable(const std::string& raw);

// The shortest decimal that reads back as exactly `value` ("nan", "inf" and
// "-inf" for the values that are not finite).
std::string exactDecimal(double value);

// What a scene file that cannot be opened is told with, on standard output
// (or where `cannotOpenOut` points: a program whose standard output is
// data, JSON, takes the message to put it in its own words).
std::string cannotOpenMessage(const char* fileName);
extern std::FILE* cannotOpenOut;

enum class ReadStatus {
    Ok,          // read (possibly with warnings) and camera set up
    CannotOpen,  // the file could not be opened; its message is on standard output
    Refused,     // the content breaks a limit or the camera is degenerate; error printed
};

// How far the scene being read has got, for a display of progress: the
// bytes of its text passed and their number (0 until known).
extern std::atomic<long long> sceneBytesRead, sceneBytesTotal;

// Set by the modes that watch the scene (--watch, --serve): a scene that is
// not a regular file (a fifo put in its place, a device) is refused, and
// never opened in a way that waits for a writer.
extern bool sceneOnlyRegular;

// Reads the scene file into the tables and sets up the camera. Warnings and
// errors about the content go to `diagnostics` as FILE:LINE:COLUMN: lines;
// `warnings`, when given, receives how many warnings there were.
// With `dump`, every row as read is printed there after reading (even a
// refused scene's, as far as it was read): its line and column, its table
// and row number, and its values as understood. With `everyMistake`, a
// scene that went wrong is looked at again past its first mistake
// (laterMistakes), for --check.
ReadStatus readScene(const char* fileName, std::FILE* diagnostics = stderr, int* warnings = nullptr,
                     std::FILE* dump = nullptr, bool everyMistake = false);

// What the second look of --check finds after the first mistake: rows,
// read line by line (as scenes are written), that do not fit their
// section. `nextLine` gives each line of the file without its end; only
// what lies after line `afterLine` is said.
struct LaterFinding {
    long line, column;
    std::string text;
};
std::vector<LaterFinding> laterMistakes(const std::function<bool(std::string&)>& nextLine,
                                        long afterLine);
std::vector<LaterFinding> laterMistakes(const std::string& text, long afterLine);

enum class CameraStatus { Ok, EyeAtLookAt, UpAlongView, BadFieldOfView, NotFinite };

// Builds the camera basis from eye (already set), look-at point, up vector
// and vertical field of view in degrees; imageWidth and imageHeight must be
// set. Always computes every global; the status says whether the result is
// a usable camera.
CameraStatus setupCamera(const Vetor& lookAt, const Vetor& upVector, double fieldOfView);

// What tells one version of a file from another: which file the name leads
// to, its size and its modification time; nothing when it is missing.
struct FileStamp {
    bool exists = false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = 0;
    long long modified = 0;  // nanoseconds where the system keeps them
    // Where it keeps only seconds, the start of the content, so that two
    // saves of the same size within a second still differ.
    unsigned long long content = 0;

    bool same(const FileStamp& other) const {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified == other.modified && content == other.content;
    }
};
FileStamp stampOf(const char* path);

// Returns once the file exists, differs from `seen` and has stayed so for a
// moment (an editor may write it in steps), or once `stop` is set.
void waitForChange(const char* path, const FileStamp& seen,
                   const std::atomic<bool>* stop = nullptr);

// Sets `changed` once the file no longer matches `before`, looking every
// twentieth of a second on a thread of its own until destroyed. Without a
// thread to spare it never sets it (the change is noticed afterwards).
class ChangeWatcher {
public:
    ChangeWatcher(const char* path, const FileStamp& before, std::atomic<bool>& changed);
    ~ChangeWatcher();
    ChangeWatcher(const ChangeWatcher&) = delete;
    ChangeWatcher& operator=(const ChangeWatcher&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace fotolume
