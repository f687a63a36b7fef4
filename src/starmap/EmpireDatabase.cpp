#include "starmap/EmpireDatabase.h"

namespace lanewright {

using store::Binding;

store::HResult EmpireDatabase::Open() {
  return reader_.Open(record.dbFile, "Warp Points",
                      {{Binding::Kind::Int32},
                       {Binding::Kind::Int32},
                       {Binding::Kind::Text, 50},
                       {Binding::Kind::Text, 50},
                       {Binding::Kind::Int32}});
}

store::HResult EmpireDatabase::MoveNext() {
  const store::HResult hr = reader_.MoveNext(values_);
  if (hr != store::S_OK) return hr;
  record.column1 = values_[0].number;
  record.empire = values_[1].number;
  record.system = values_[2].text;
  record.destination = values_[3].text;
  record.warpPointId = values_[4].number;
  return hr;
}

}  // namespace lanewright
