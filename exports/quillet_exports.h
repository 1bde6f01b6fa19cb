// The seventeen exports, each named once in QUILLET_EXPORTS below with its ordinal, parameters
// and the folder of its job. From the table come the extern "C" definitions
// (quillet_exports.cpp), the jobs' declarations (server_admin/jobs.h, database_admin/jobs.h),
// the Windows export list quillet.def (written into the build by cmake/QuilletExports.cmake),
// quillet.exe's table of the functions it loads (cli/library_loader_windows.cpp) and the tests'
// list of exports (tests/export_list.h). include/quillet.h declares the same functions for
// hosts, written for its readers; the configure step holds each declaration there to the table,
// names and parameters, and quillet_exports.cpp its types again, so neither changes alone.
#ifndef QUILLET_EXPORTS_QUILLET_EXPORTS_H
#define QUILLET_EXPORTS_QUILLET_EXPORTS_H

#include <cstdint>

// X(Name, ordinal, ((type, name), ...), folder): one line per export, in ordinal order. The
// ordinals are 1 to 17 in the names' alphabetical order, and hosts may link by ordinal, so a
// new export changes the ABI. The job is the function of the same name and parameters in
// namespace quillet, in server_admin/ or database_admin/. Each export takes one to five
// parameters. The build reads each entry's name and ordinal for quillet.def, so keep each one
// as X(Name, ordinal, ...
// clang-format off
#define QUILLET_EXPORTS(X)                                                                        \
  X(AllSnapShot, 1, ((const char*, server), (const char*, password),                              \
                     (const char*, root_directory)), server_admin)                                \
  X(CreateDB, 2, ((const char*, server), (const char*, password), (const char*, database)),       \
    server_admin)                                                                                 \
  X(DeinstallDB, 3, ((const char*, server), (const char*, password), (const char*, database)),    \
    server_admin)                                                                                 \
  X(DirDB, 4, ((const char*, server), (const char*, password), (char*, list)), server_admin)      \
  X(DropDB, 5, ((const char*, server), (const char*, password), (const char*, database)),         \
    server_admin)                                                                                 \
  X(ExportCSV, 6, ((const char*, database), (const char*, user), (const char*, password),         \
                   (const char*, statement), (const char*, output_file)), database_admin)         \
  X(InstallDB, 7, ((const char*, server), (const char*, password), (const char*, database)),      \
    server_admin)                                                                                 \
  X(KillAllConnections, 8, ((const char*, server), (const char*, password),                       \
                            (const char*, database)), server_admin)                               \
  X(KillConnection, 9, ((const char*, server), (const char*, password), (int32_t, process)),      \
    server_admin)                                                                                 \
  X(ListConnections, 10, ((const char*, server), (const char*, password), (char*, list)),         \
    server_admin)                                                                                 \
  X(Load, 11, ((const char*, database), (const char*, user), (const char*, password),             \
               (const char*, command)), database_admin)                                           \
  X(ReLoad, 12, ((const char*, database), (const char*, user), (const char*, password),           \
                 (const char*, script_file)), database_admin)                                     \
  X(ReleaseLog, 13, ((const char*, database), (const char*, user), (const char*, password)),      \
    database_admin)                                                                               \
  X(SnapShot, 14, ((int32_t, flag), (const char*, server), (const char*, password),               \
                   (const char*, database), (const char*, directory)), server_admin)              \
  X(TerminateServer, 15, ((const char*, server), (const char*, password)), server_admin)          \
  X(Unload, 16, ((const char*, database), (const char*, user), (const char*, password),           \
                 (const char*, command)), database_admin)                                         \
  X(UpdateStats, 17, ((const char*, database), (const char*, user), (const char*, password)),     \
    database_admin)
// clang-format on

// QUILLET_EACH_PARAMETER(F, parameters): F(type, name) for each (type, name) of an entry's
// parameters, separated by commas. F is one of the three below, or a caller's own.
#define QUILLET_PARAMETER(type, name) type name
#define QUILLET_PARAMETER_TYPE(type, name) type
#define QUILLET_ARGUMENT(type, name) name

#define QUILLET_EACH_PARAMETER(F, parameters) QUILLET_EACH_OF(F, QUILLET_UNPARENTHESISE parameters)
#define QUILLET_UNPARENTHESISE(...) __VA_ARGS__
#define QUILLET_EACH_OF(F, ...) \
  QUILLET_EACH_COUNTED(__VA_ARGS__, 5, 4, 3, 2, 1, none)(F, __VA_ARGS__)
// A sixth parameter pastes no macro's name and stops the build here.
#define QUILLET_EACH_COUNTED(p1, p2, p3, p4, p5, count, ...) QUILLET_EACH_##count
#define QUILLET_EACH_1(F, p) F p
#define QUILLET_EACH_2(F, p, ...) F p, QUILLET_EACH_1(F, __VA_ARGS__)
#define QUILLET_EACH_3(F, p, ...) F p, QUILLET_EACH_2(F, __VA_ARGS__)
#define QUILLET_EACH_4(F, p, ...) F p, QUILLET_EACH_3(F, __VA_ARGS__)
#define QUILLET_EACH_5(F, p, ...) F p, QUILLET_EACH_4(F, __VA_ARGS__)

#endif  // QUILLET_EXPORTS_QUILLET_EXPORTS_H
