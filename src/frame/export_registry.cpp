// The registry checked against the public header at compile time, in every
// build: each name is declared there (decltype fails on a name ampora.h lacks),
// a block export returns nothing and has a curve, a whole-record export returns
// a double and has none, the argument list names every argument, and the
// exports that take records name as many sources.
#include "frame/export_registry.h"

#define AMPORA_CHECK_ENTRY(Name, Ordinal, Lookup, Sources, Arguments, Window_, Curve_, Setting_)                \
    static_assert(ExportSignature<decltype(&::Name)>::kBlock == (BlockCurve::Curve_ != BlockCurve::None),                 \
                  #Name ": a block export has a curve, a whole-record export none");                             \
    static_assert(ExportSignature<decltype(&::Name)>::kArguments == WordCount(Arguments),                       \
                  #Name ": one name per argument");                                                              \
    static_assert(ExportSignature<decltype(&::Name)>::kTakesList || ExportSignature<decltype(&::Name)>::kRecords == Sources, \
                  #Name ": the records it takes are its sources");
AMPORA_EXPORTS(AMPORA_CHECK_ENTRY)
#undef AMPORA_CHECK_ENTRY
