#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "route/RouteGraph.h"
#include "route/RoutePlan.h"
#include "route/RouteSink.h"
#include "route/StopOrder.h"
#include "starmap/EmpireRows.h"
#include "starmap/OutputBox.h"
#include "starmap/StarMap.h"
#include "starmap/WarpNetwork.h"

namespace lanewright {

// Builds route graphs from the rows of the loaded files and keeps the last one while its
// files' rows and the avoid set stay the same, so repeated requests search without
// rebuilding. Rows come from (and are re-read by) the row source when a file changed.
class RoutePlanner {
 public:
  explicit RoutePlanner(EmpireRowSource& rows) : rows_(rows) {}

  // The graph of files leaving out what avoid names, or null with err filled when a file
  // cannot be read.
  std::shared_ptr<const RouteGraph> Graph(const std::set<std::string>& files,
                                          const std::set<std::string>& avoid,
                                          store::StoreError& err);

 private:
  EmpireRowSource& rows_;
  std::vector<std::shared_ptr<const EmpireRows>> keptFiles_;
  std::set<std::string> keptAvoid_;
  std::shared_ptr<const RouteGraph> kept_;
};

// One route request over the loaded files (starMap.databaseFiles); the request carries its
// own avoid set.
RoutePlan FindRoute(const StarMap& starMap, RoutePlanner& planner, const RouteRequest& request);

// The report of a plan, said through sink: a header per direction, a WarpStep per jump, and
// the separator and cost line of a found trip or the failure text of the leg that failed.
void RenderRoute(const RoutePlan& plan, RouteSink& sink, const SystemEmpireSet& systemEmpire);

// The stops a Visit selection means: none for no selection and for "[none]".
std::vector<std::string> StopsFromVisit(const std::optional<std::string>& visit);

// The stops of systems given one by one (the command line's --via): "[none]" alone means
// none. Nothing, with problem saying why, for "[none]" among names or more than kMaxStops.
std::optional<std::vector<std::string>> StopsFromList(const std::vector<std::string>& names,
                                                      std::string& problem);

// The work behind the three route buttons: avoidSystems becomes avoidSelection; without a
// from or to the output box says "not all selected." (and nothing is searched); otherwise the
// route both ways through the stops (in their order, or the best one) is written to output.
RoutePlan RouteCommand(StarMap& starMap, RoutePlanner& planner,
                       const std::optional<std::string>& from, const std::optional<std::string>& to,
                       std::vector<std::string> stops, bool bestOrder,
                       const std::set<std::string>& avoidSelection, RouteMode mode,
                       OutputBox& output);

// The same through the Visit selection alone (see StopsFromVisit).
RoutePlan RouteCommand(StarMap& starMap, RoutePlanner& planner,
                       const std::optional<std::string>& from, const std::optional<std::string>& to,
                       const std::optional<std::string>& visit,
                       const std::set<std::string>& avoidSelection, RouteMode mode,
                       OutputBox& output);

}  // namespace lanewright
