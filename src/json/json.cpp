#include "json/json.h"

#include <cmath>
#include <limits>
#include <utility>

namespace tsl {

namespace {

const Json& sharedNull() {
    static const Json value;
    return value;
}

const Json::Array& sharedEmptyList() {
    static const Json::Array value;
    return value;
}

}  // namespace

Json::Json(bool value) noexcept : kind_(Kind::Bool), flag_(value) {}
Json::Json(double value) noexcept : kind_(Kind::Number), number_(value) {}
Json::Json(std::string text) noexcept : kind_(Kind::String), text_(std::move(text)) {}
Json::Json(const char* text) : kind_(Kind::String), text_(text) {}
Json::Json(Array elements)
    : kind_(Kind::Array), array_(std::make_shared<Array>(std::move(elements))) {}
Json::Json(Object members)
    : kind_(Kind::Object), object_(std::make_shared<Object>(std::move(members))) {}

const Json& Json::get(const std::string& key) const {
    if (kind_ != Kind::Object) return sharedNull();
    const auto it = object_->find(key);
    return it == object_->end() ? sharedNull() : it->second;
}

const Json::Array& Json::items() const {
    return kind_ == Kind::Array ? *array_ : sharedEmptyList();
}

std::string Json::stringOr(const std::string& def) const {
    return kind_ == Kind::String ? text_ : def;
}

int Json::intOr(int def) const {
    if (kind_ != Kind::Number || std::isnan(number_)) return def;
    // Saturate: the plain conversion of an out-of-range double is undefined.
    if (number_ >= 2147483647.0) return std::numeric_limits<int>::max();
    if (number_ <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(number_);
}

bool Json::boolOr(bool def) const {
    return kind_ == Kind::Bool ? flag_ : def;
}

std::string Json::takeStringOr(std::string def) {
    return kind_ == Kind::String ? std::move(text_) : std::move(def);
}

Json* Json::find(const std::string& key) {
    if (kind_ != Kind::Object) return nullptr;
    const auto it = object_->find(key);
    return it == object_->end() ? nullptr : &it->second;
}

Json::Array* Json::elements() {
    return kind_ == Kind::Array ? array_.get() : nullptr;
}

Json& Json::set(std::string key, Json value) {
    if (kind_ != Kind::Object) {
        *this = Json(Object());
    }
    auto it = object_->lower_bound(key);
    if (it != object_->end() && it->first == key) {
        it->second = std::move(value);
    } else {
        object_->emplace_hint(it, std::move(key), std::move(value));
    }
    return *this;
}

Json& Json::push(Json value) {
    if (kind_ != Kind::Array) {
        *this = Json(Array());
    }
    array_->push_back(std::move(value));
    return *this;
}

bool Json::operator==(const Json& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
        case Kind::Null:
            return true;
        case Kind::Bool:
            return flag_ == other.flag_;
        case Kind::Number:
            return number_ == other.number_ || (std::isnan(number_) && std::isnan(other.number_));
        case Kind::String:
            return text_ == other.text_;
        case Kind::Array:
            return array_ == other.array_ || *array_ == *other.array_;
        case Kind::Object:
            return object_ == other.object_ || *object_ == *other.object_;
    }
    return false;
}

}  // namespace tsl
