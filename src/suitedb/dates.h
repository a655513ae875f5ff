#pragma once
// Calendar dates as the database stores them ("YYYY-MM-DD"): the shared calendar-day module
// under the names the database library's callers use.

#include "dates/dates.h"

namespace rqc::suitedb {

using Date = dates::Day;

using dates::isoDate;
using dates::localToday;
using dates::parseIsoDate;

}  // namespace rqc::suitedb
