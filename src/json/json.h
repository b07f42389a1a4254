#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tsl {

// A parse failure: "Invalid JSON at offset N: reason".
class JsonError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One JSON value. Arrays and objects are shared: a copy shares the container with its source
// (two reference-count increments, never a deep copy), and a change through one handle is seen
// through all. Reads never fail: a missing member or another kind gives null or the default.
// Object members are kept in ascending byte order of their keys, each key once.
class Json final {
  public:
    enum class Kind : std::int32_t {
        Null = 0,
        Bool = 1,
        Number = 2,
        String = 3,
        Array = 4,
        Object = 5
    };
    using Array = std::vector<Json>;
    using Object = std::map<std::string, Json>;

    Json() noexcept = default;                 // null
    explicit Json(bool value) noexcept;        // true / false
    explicit Json(double value) noexcept;      // number (integers are passed as doubles)
    explicit Json(std::string text) noexcept;  // string; the text is taken over
    explicit Json(const char* text);           // string
    explicit Json(Array elements);             // array; the vector is taken over
    explicit Json(Object members);             // object; the map is taken over

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isBool() const { return kind_ == Kind::Bool; }
    bool isNumber() const { return kind_ == Kind::Number; }
    bool isString() const { return kind_ == Kind::String; }
    bool isArray() const { return kind_ == Kind::Array; }
    bool isObject() const { return kind_ == Kind::Object; }

    // The member with exactly this key; the shared null for a missing key or a non-object.
    const Json& get(const std::string& key) const;
    // The elements of an array; the shared empty list for anything else.
    const Array& items() const;

    std::string stringOr(const std::string& def) const;  // a copy of the text, or def
    int intOr(int def) const;     // truncated toward zero, saturated to 32 bits; NaN gives def
    bool boolOr(bool def) const;  // the flag, or def

    // Moving read, for texts too large to copy (a job's XML): the text is moved out of a
    // string value (which stays a string, now empty); def for any other kind. With find and
    // elements it takes a request's XML out of a parsed job without a copy, e.g.
    //   for (Json& r : *answer.find("job")->find("requests")->elements())
    //       xml = r.find("xml")->takeStringOr("");   (check each pointer for null first)
    std::string takeStringOr(std::string def);
    // Mutable access to a member or the elements, for moving out of a parsed answer; nullptr
    // when missing or of another kind. Changes are seen through every handle of the container.
    Json* find(const std::string& key);
    Array* elements();

    // Makes this an object if it is not one (dropping what it held), then inserts or replaces.
    Json& set(std::string key, Json value);
    // Makes this an array if it is not one, then appends.
    Json& push(Json value);

    // Parses UTF-8 JSON text; throws JsonError with the byte offset of the fault.
    static Json parse(const std::string& text);
    // Compact JSON text: members in key order, no blanks, only the required escapes. Sized
    // exactly before it is written: one allocation, so a 64 MB body costs its text once more.
    std::string dump() const;
    // The same, appended to out.
    void dumpTo(std::string& out) const;

    bool operator==(const Json& other) const;  // deep comparison (NaN equals NaN)

  private:
    std::size_t dumpSize() const;  // the exact length of dump()

    Kind kind_ = Kind::Null;
    bool flag_ = false;
    double number_ = 0.0;
    std::string text_;
    std::shared_ptr<Array> array_;
    std::shared_ptr<Object> object_;
};

}  // namespace tsl
