// The token reader behind readScene: values read one formatted conversion
// at a time, and the diagnostics about them with FILE:LINE:COLUMN. Internal
// to the scene folder.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "scene/scene.hpp"
#include "scene/text.hpp"

namespace fotolume {

// White space as the conversions skip it in the C locale: blank, tab, line
// feed, vertical tab, form feed, carriage return. (EOF is none of them.)
inline bool isBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A comment runs from # to the end of its line and reads as white space,
// so # also ends the token before it, as a blank would.
constexpr char COMMENT = '#';
inline bool endsToken(int c) { return isBlank(c) || c == COMMENT; }
inline bool endsLineHere(int c) { return c == '\n' || c == '\r'; }

// What a value is, for a diagnostic only: "radius" of "object" 4 ("sphere").
struct Field {
    const char* name;
    const char* owner = nullptr;  // "light", "pigment", "finish", "object" or a camera item
    int row = -1;
    const char* kind = nullptr;
    const char* component = nullptr;  // "x", "red", ... within a vector

    std::string describe() const;
};

// Reads the scene text value by value, each number as one single-conversion
// fscanf reads it, so a malformed file reads exactly as the C library reads
// it: a value that does not convert leaves its target unchanged and reading
// goes on from wherever the input stands. Plain decimal numbers (nearly
// every value of a real file) are converted straight from the text, which
// gives the same value and leaves the input where the library would, at a
// third of the cost. Positions are worked out by one cursor that moves
// forward, or back to a mark at most a page behind.
class SceneReader {
public:
    // The text of a stream, held whole.
    SceneReader(std::string text, const char* name, std::FILE* diagnostics);
    // A regular file of `size` bytes, read a page at a time: `file` is not
    // closed by the reader.
    SceneReader(std::FILE* file, long size, const char* name, std::FILE* diagnostics);
    ~SceneReader();
    SceneReader(const SceneReader&) = delete;
    SceneReader& operator=(const SceneReader&) = delete;

    long offset() const;
    bool real(double& target, const Field& field);
    void vector(Vetor& target, const char* const names[3], const Field& field);
    bool integer(int& target, const Field& field);
    // Reads a word as "%s" does, keeping at most 9 characters in `kind`.
    // Returns the length of the whole word, or -1 at the end of the file
    // (kind is then left as it was).
    long word(char (&kind)[KIND_SIZE], const Field& field);
    void unknownWord(const char* section, int row, const char* expected);
    // A value of a packed row (a mesh's vertices and faces), read as real()
    // and integer() read theirs but saying nothing when it does not convert
    // or the file has ended: the row's reader refuses it in its own words.
    // A value that is not finite is said once a row, as real() says it.
    bool packedReal(double& target, const Field& field);
    bool packedInteger(long long& target);
    // The token at or after `before` as a diagnostic quotes it, or "the end
    // of the file".
    std::string tokenAt(long before) { return locate(before).token; }
    // Bytes of text from reading's position to the end.
    long bytesLeft() const { return text_.size() > pos_ ? text_.size() - pos_ : 0; }

    void error(long before, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void warn(long before, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A remark that is no mistake: shown within the limit, not counted as a
    // warning.
    void note(long before, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // Whether anything but white space follows `at`; the line of the first
    // token at or after `before`.
    bool moreText(long at) const;
    long lineOf(long before);
    int warnings() const { return warnings_; }
    // Whether the last integer read lay outside the int range (it was
    // clamped to it).
    bool pastIntRange() const { return pastInt_; }
    // Whether a value of the row begun last did not convert, or the file
    // ended within it.
    bool rowFailed() const { return rowFailed_; }
    // A section of rows of a fixed number of values (lights, finishes), for
    // checkCountFits: before each row (`row` < count) and after the last
    // (`row` == count), with `at` where the next token stands.
    struct CountCheck {
        const char* plural;
        const char* singular;
        int width;
        int count;
        long countAt;
    };
    void checkCountFits(const CountCheck& check, int row, long at);

    // Every row as read, with where it starts (for --dump): recorded once
    // asked for, however reading went.
    struct RowAt {
        const char* owner;
        int row;
        long line, column;
    };
    void recordEveryRow() { recordAll_ = true; }
    // After the first mistake, read the file again line by line and say
    // every row that does not fit its section (for --check).
    void lookPastTheFirstMistake() { lookFurther_ = true; }
    std::vector<RowAt> everyRow();

    // Whether a value failed to convert, a type word was unknown or the
    // file ended early: then the rest of the text is no sign of a count.
    bool wentWrong() const { return failedOnce_; }

    // Rows (a light, a pigment, a count ...) as read, for the hint that
    // points at a row that broke the file's one-row-per-line layout.
    void beginRow();
    void endRow(const char* owner, int row = -1);
    // A mesh's row, which may fill any number of lines: never taken for a
    // row that broke the one-row-per-line layout.
    void endPackedRow(const char* owner, int row);

    // Ends reading: reports what is still pending, the objects that will
    // show and, for a scene with warnings, a summary of what was read.
    void finish(bool refused);
    bool readError() const;

private:
    // Past this many warnings the rest are only counted.
    static constexpr int MAX_WARNINGS = 20;

    struct Position {
        long line = 0;  // 0: unknown
        long column = 0;
        std::string token;
    };
    struct Row {
        long start;
        long end;
        const char* owner;
        int row;
        bool packed = false;
    };
    bool fillsOneLine(const Row& row) const;

    long firstNonBlank(long at) const;
    long plainNumberEnd(long at, bool real) const;
    template <typename Number>
    bool quick(Number& value, bool real);
    int scan(const char* format, void* target);
    void failed(int result, long before, const char* expected, const Field& field);
    void nonFinite(long before, double value, const Field& field);
    void firstFailure(long at);
    void sayUnread();
    int lineNumbers(long at) const;
    int rowsRead(const char* owner) const;  // rows of `owner` read as written
    void flushStuck(bool byWord);
    bool capped();
    Position locate(long before);
    void advance(long to);
    void report(long before, const char* level, const char* format, va_list args);
    bool startsLine(long at) const;
    bool endsLine(long at) const;
    std::string layoutHint();
    void recordLines();
    void sayLaterMistakes();

    SceneText text_;
    // The text as a stream, for the conversions of the C library; plain
    // numbers and words are read from the text itself. `pos_` is where
    // reading stands, `streamAt_` where the stream stands.
    std::FILE* in_;
    bool ownsIn_;
    long pos_ = 0;
    long streamAt_ = 0;
    // A run of blanks from `from` to the token at `to` (or the end), and
    // its last line end (-1: none): the last one crossed, and those longer
    // than a page by where they start.
    struct Blanks {
        long from = -1, to = -1, lastEnd = -1;
    };
    mutable Blanks blanks_;
    mutable std::map<long, Blanks> longBlanks_;
    std::string name_;  // printable form of the file name
    std::FILE* diagnostics_;
    int warnings_ = 0;
    bool endReported_ = false;
    long lastWordStart_ = -1;

    // Reading stuck on a token that does not convert: reported when it ends.
    long stuckAt_ = -2;
    long stuckBefore_ = 0;
    int stuckReads_ = 0;
    std::string stuckText_;

    // The one cursor of positions: offset, line and column, and whether the
    // last character was a CR (a CRLF pair ends one line).
    long cursor_ = 0;
    long line_ = 1;
    long column_ = 1;
    bool afterCr_ = false;
    // Where the cursor stood at each page start it has passed, so that a
    // position behind it is found by going back one page, not to the start.
    struct Mark {
        long line, column;
        bool afterCr;
    };
    std::vector<Mark> marks_;
    // The last token found from a given offset, so asking again is free.
    long lastBefore_ = -1;
    long lastAt_ = 0;

    std::vector<Row> rows_;
    long rowStart_ = 0;
    bool failedOnce_ = false;
    long failureAt_ = -1;  // where reading first went wrong
    bool countWarned_ = false;
    bool recordAll_ = false;
    bool lookFurther_ = false;
    std::set<long> reportedLines_;  // the lines diagnostics were given at
    std::vector<Row> allRows_;
    std::string hint_;  // printed after the next diagnostic
    int notes_ = 0;
    int notesDropped_ = 0;
    bool pastInt_ = false;  // the last integer read lay outside the int range
    bool rowFailed_ = false;
    // The row (owner and number) whose value was last said not to be finite.
    const char* nonFiniteOwner_ = nullptr;
    int nonFiniteRow_ = -1;
};

// Objects that can never be hit or are drawn smaller than written, each
// said at its row (`starts`: where each object's row begins).
// The sections of a scene file, in their order; each false when the scene
// is refused. `lookAt`, `upVector`, `fieldOfView` and the starts of the
// camera's rows, and the starts of the lights' rows, are for the checks
// that follow.
void readCamera(SceneReader& reader, Vetor& lookAt, Vetor& upVector, double& fieldOfView,
                long (&starts)[3]);
bool readLights(SceneReader& reader, std::vector<long>& starts);
bool readPigments(SceneReader& reader);
bool readFinishes(SceneReader& reader);
bool readObjects(SceneReader& reader, std::vector<long>& starts);
// The vertices (and normals) and faces of mesh or smooth row `row` into a
// new MeshRow of `meshes`; false, with the error said, when a count is
// negative or not filled or a face names a vertex the row lacks.
bool readMeshValues(SceneReader& reader, int row);

// Prints the rows as read, one a line, with their values from the tables.
void dumpRows(std::FILE* out, const std::vector<SceneReader::RowAt>& rows);

void checkObjects(SceneReader& reader, const std::vector<long>& starts);
// The faces of each mesh that can never be hit, counted once a mesh.
void checkMeshes(SceneReader& reader, const std::vector<long>& starts);
// Lights that cannot work: an attenuation of 0 0 0, a light inside an
// opaque sphere, an opaque sphere around the eye and every light (said at
// the sphere's row). `starts` and `objectStarts` are where the lights' and
// the objects' rows begin.
void checkLights(SceneReader& reader, const std::vector<long>& starts,
                 const std::vector<long>& objectStarts);
// Text after the last row the counts ask for, said with the objects
// count's line (`countAt`: where that count was read from).
void checkTrailingText(SceneReader& reader, long countAt, int count);

}  // namespace fotolume
