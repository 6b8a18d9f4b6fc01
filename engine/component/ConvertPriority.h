#pragma once
// How eagerly a converter's job threads run; each maps to a per-thread nice
// value (tpIdle 19, tpLowest 15, tpLower 10, tpNormal 0).
enum TConvertPriority { tpIdle, tpLowest, tpLower, tpNormal };
