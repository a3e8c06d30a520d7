// VJSONErrors.h - error codes of the JSON value model.
//
// This file defines the 'bkit' and 'QNRT' codes that JSON values, objects,
// arrays, graphs and storage lockers raise. The text reader's and writer's
// codes live with them.
#pragma once

#include "basekit/BKitTypes.h"

namespace bkit {

constexpr OsType kQNRT_SIGNATURE = MakeOsType("QNRT");

// An array found inside itself while it is turned into text.
constexpr VError VE_JSON_CYCLE = MakeBKitError(900);
constexpr VError VE_JSON_PATH_MISSING_BRACKET = MakeBKitError(901);
constexpr VError VE_JSON_PATH_EMPTY_PART = MakeBKitError(902);
constexpr VError VE_JSON_PATH_NOT_AN_ARRAY = MakeBKitError(903);
constexpr VError VE_JSON_PATH_NOT_AN_OBJECT = MakeBKitError(904);
constexpr VError VE_JSON_CANNOT_WRITE_TO_BUFFER = MakeBKitError(915);
constexpr VError VE_JSON_SORT_FAILED = MakeBKitError(917);

constexpr VError VE_JSON_INDEX_OUT_OF_RANGE = MakeVError(kQNRT_SIGNATURE, -10713);
constexpr VError VE_JSON_OBJECT_LOCKED_BY_OTHER_TASK = MakeVError(kQNRT_SIGNATURE, -10719);
constexpr VError VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK = MakeVError(kQNRT_SIGNATURE, -10720);
constexpr VError VE_JSON_VALUE_NOT_SHARABLE = MakeVError(kQNRT_SIGNATURE, -10721);
constexpr VError VE_JSON_OBJECT_OF_OTHER_GRAPH = MakeVError(kQNRT_SIGNATURE, -10724);
constexpr VError VE_JSON_ARRAY_OF_OTHER_GRAPH = MakeVError(kQNRT_SIGNATURE, -10725);
constexpr VError VE_JSON_ONLY_CONTAINERS_ALLOWED = MakeVError(kQNRT_SIGNATURE, -10727);
constexpr VError VE_JSON_NOT_A_CLASS = MakeVError(kQNRT_SIGNATURE, -10745);
constexpr VError VE_JSON_PRIVATE_LOCKER_IN_USE = MakeVError(kQNRT_SIGNATURE, -10753);

}  // namespace bkit
