#include "json_fields.h"

using nlohmann::json;

namespace {

// The member, or null when `doc` is no object or has none of that name.
const json* member(const json& doc, const char* name) {
    if (!doc.is_object()) return nullptr;
    const auto it = doc.find(name);
    return it == doc.end() ? nullptr : &*it;
}

}  // namespace

std::string text_of(const json& doc, const char* name) {
    const json* m = member(doc, name);
    return m && m->is_string() ? m->get<std::string>() : "";
}

bool flag_of(const json& doc, const char* name) {
    const json* m = member(doc, name);
    return m && m->is_boolean() && m->get<bool>();
}

unsigned long long number_of(const json& doc, const char* name) {
    const json* m = member(doc, name);
    return m && m->is_number_unsigned() ? m->get<unsigned long long>() : 0;
}

long long integer_of(const json& doc, const char* name) {
    const json* m = member(doc, name);
    return m && m->is_number() ? m->get<long long>() : 0;
}

const json& array_of(const json& doc, const char* name) {
    static const json none = json::array();
    const json* m = member(doc, name);
    return m && m->is_array() ? *m : none;
}
