// Controller tables: each step of a transaction (a card read, a PEM save,
// the photo hash, a signature or chain check) is a row naming one of the
// input's ten request masks, a request bit, the operation with its
// arguments (members of the caller's output record) and the code a failure
// gives. A row runs when mask AND bit is not 0 and its target still needs
// the work; the first failing row ends the table with the row's code.
//
// Rows point into the output record and the file names: use a table only
// while they live. Dispatchers return 0 (not asked for, nothing left to do,
// or done) or the row's code, tracing "controler.error_code_... = %i" at
// level 8 under their own name.
//
// Row codes: 1001 cert 2 read, 1002 cert 4 read, 1003 cert 6 read, 1004
// cert 8 read, 1005 identity read, 1105 address read, 1006 photo read, 1007
// identity signature read, 1008 address signature read, 1010 identity
// signature check, 1011 address signature check, 1012 photo check, 1014 to
// 1018 certificate status (unused tables), 1019 chain of cert 2, 1020 cert 3
// read (and its unused status row), 1021 unused status row, 1023 chain of
// cert 3, 1024 to 1028 save of cert 2, 3, 4, 6, 8, 1029 photo hash.
#ifndef TARVIK_ENGINE_EID_CONTROLLER_TABLES_H
#define TARVIK_ENGINE_EID_CONTROLLER_TABLES_H

#include <array>
#include <cstdint>

#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_records.h"

struct EidReadFileRow {
    int32_t mask;
    int32_t bit;
    int handle;
    S_EID_DATA* target;
    int (*operation)(int, S_EID_DATA*);
    int32_t code;
};

struct EidReadCertRow {
    int32_t mask;
    int32_t bit;
    int handle;
    S_EID_CERT* target;
    int32_t number;
    int (*operation)(int, unsigned int, S_EID_CERT*);
    int32_t code;
};

struct EidVerifySgnRow {
    int32_t mask;
    int32_t bit;
    const S_EID_DATA* data;
    const S_EID_DATA* second;  // absent (null) for the identity file
    const S_EID_DATA* signature;
    const S_EID_CERT* certificate;
    int* status;
    int (*operation)(const S_EID_DATA*, const S_EID_DATA*, const S_EID_DATA*, const S_EID_CERT*, int*);
    int32_t code;
};

struct EidChainRow {
    int32_t mask;
    int32_t bit;
    const S_EID_CERT* certificate;
    const S_EID_CERT* intermediate;
    const S_EID_CERT* root;
    int* status;
    int (*operation)(const S_EID_CERT*, const S_EID_CERT*, const S_EID_CERT*, int*);
    int32_t code;
};

struct EidSaveRow {
    int32_t mask;
    int32_t bit;
    S_EID_CERT* certificate;
    const char* file_name;  // EID_CERT_FILE_NAME_SIZE characters
    int (*operation)(S_EID_CERT*, const char*);
    int32_t code;
};

struct EidPhotoHashRow {
    int32_t mask;
    int32_t bit;
    const S_EID_DATA* id_rn;
    S_EID_DATA* target;
    int (*operation)(const S_EID_DATA*, S_EID_DATA*);
    int32_t code;
};

struct EidCertStatusRow {
    int32_t mask;
    int32_t bit;
    const S_EID_CERT* certificate;
    int32_t number;
    int* status;
    int (*operation)(const S_EID_CERT*, int*);
    int32_t code;
};

using EidReadFileTable = std::array<EidReadFileRow, 10>;
using EidReadCertTable = std::array<EidReadCertRow, 11>;
using EidSaveTable = std::array<EidSaveRow, 8>;
using EidPhotoHashTable = std::array<EidPhotoHashRow, 1>;
using EidVerifySgnTable = std::array<EidVerifySgnRow, 3>;
using EidChainTable = std::array<EidChainRow, 2>;
using EidCertStatusTable = std::array<EidCertStatusRow, 5>;
using EidCertAuxStatusTable = std::array<EidCertStatusRow, 2>;

// Builders: fill the caller's table, return 0 (-1 for a null record).
int eidBuildReadPubDataTable(int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                             EidReadFileTable& table);
int eidBuildReadCertTable(int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                          EidReadCertTable& table);
int eidBuildSaveX509Table(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, const EidCertFileNames* names,
                          EidSaveTable& table);
int eidBuildPhotoHashTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidPhotoHashTable& table);
int eidBuildVerifySgnTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidVerifySgnTable& table);
int eidBuildCcvCheckTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidChainTable& table);
// Certificate-status tables: built, never run by a transaction; their
// operation does nothing and returns 0.
int eidBuildCertStatusTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidCertStatusTable& table);
int eidBuildCertAuxStatusTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                               EidCertAuxStatusTable& table);

// Dispatchers, one row each.
int eidReadPubDataControler(const EidReadFileRow& row);  // runs when the target is empty
int eidReadCertControler(const EidReadCertRow& row);     // runs when the target is empty
int eidSaveX509Controler(const EidSaveRow& row);         // runs for a certificate with content and no PEM name
int eidGetPhotoHashControler(const EidPhotoHashRow& row);  // runs when the target is empty
int eidVerifySgnControler(const EidVerifySgnRow& row);
int eidCcvCheckControler(const EidChainRow& row);
int eidCrlCheckControler(const EidCertStatusRow& row);
int eidCrlCheckControlerSilent(const EidCertStatusRow& row);  // the same, without a message

// The tables of the public-data and later transactions, in their order.
enum class EidTable { ReadPubData, ReadCert, SaveX509, PhotoHash, VerifySgn, CcvCheck };
// Name of a table's dispatcher ("eidReadPubDataControler", ...).
const char* eid_table_dispatcher_name(EidTable table);

// Builds and runs one table, its rows in order: 0, or the first failing
// row's code; -1 for a null argument (names is needed by SaveX509 only).
int eidRunControllerTable(EidTable table, int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                          const EidCertFileNames* names);

// Builds and runs the tables from the first up to and including `last`,
// each table's rows in order. 0, or the first failing row's code with
// *failed naming its table. -1 for a null argument.
int eidRunControllerTables(int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                           const EidCertFileNames* names, EidTable last, EidTable* failed);

// After a transaction that ran its checks: the code of the first signature
// or chain check the masks asked for whose status is not 1 (verified), in
// table order (1010, 1012, 1011, then 1019, 1023); 0 when each verified.
// The transaction itself leaves a failed check in its status only. -1 for
// a null argument.
int eidFailedCheckCode(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out);

#endif
