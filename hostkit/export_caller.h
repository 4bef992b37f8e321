// Calling an export through its address with its own C signature, as
// include/ampora.h declares it: the host program calls the library it loads
// this way, and the tests call every export by its registry entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "ampora.h"
#include "frame/export_registry.h"

// The value of one argument as the call passes it.
struct ArgumentValue {
    char type = 'i';
    int32_t i = 0;
    double d = 0.0;
    float f = 0.0f;
    void* p = nullptr;
};

// Calls an export at an address; `all` holds every argument, the list and the
// target (or the records) first. Block exports give 0.0.
using ExportCaller = double (*)(void* address, const std::vector<ArgumentValue>& all);

// The type code of a parameter: 'L' the list, 'C' a record, 'i' i32, 'd' f64,
// 'f' f32, 'b' a float array.
template <class T>
constexpr char TypeCode() {
    if constexpr (std::is_same_v<T, CPtrList*>) return 'L';
    else if constexpr (std::is_same_v<T, ChannelInfo*>) return 'C';
    else if constexpr (std::is_same_v<T, int32_t>) return 'i';
    else if constexpr (std::is_same_v<T, double>) return 'd';
    else if constexpr (std::is_same_v<T, float>) return 'f';
    else return 'b';
}

template <class T>
T As(const ArgumentValue& v) {
    if constexpr (std::is_same_v<T, int32_t>) return v.i;
    else if constexpr (std::is_same_v<T, double>) return v.d;
    else if constexpr (std::is_same_v<T, float>) return v.f;
    else return static_cast<T>(v.p);
}

template <class Function>
struct TypedCall;
template <class R, class... A>
struct TypedCall<R (*)(A...)> {
    static constexpr char kTypes[] = {TypeCode<A>()..., '\0'};
    static double Call(void* address, const std::vector<ArgumentValue>& v) {
        return Invoke(address, v, std::index_sequence_for<A...>{});
    }
    template <std::size_t... K>
    static double Invoke(void* address, const std::vector<ArgumentValue>& v, std::index_sequence<K...>) {
        auto* function = reinterpret_cast<R (*)(A...)>(address);
        if constexpr (std::is_void_v<R>) {
            function(As<A>(v[K])...);
            return 0.0;
        } else {
            return function(As<A>(v[K])...);
        }
    }
};

// An export's caller and the type codes of all its parameters.
struct ExportCalling {
    ExportCaller call;
    const char* types;
};

inline const ExportCalling& CallingOf(const ExportEntry& entry) {
    static const ExportCalling callings[] = {
#define AMPORA_CALLING(Name, ...) {TypedCall<decltype(&::Name)>::Call, TypedCall<decltype(&::Name)>::kTypes},
        AMPORA_EXPORTS(AMPORA_CALLING)
#undef AMPORA_CALLING
    };
    return callings[entry.ordinal - 1];
}

// The parameters before an export's own arguments: the list and the target, or the records.
inline std::size_t LeadingParameters(const char* types) {
    return types[0] == 'L' ? 2 : std::string_view(types).find_first_not_of('C');
}
