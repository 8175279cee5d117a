#pragma once
// Gathers the metrics page's snapshot from the shared state and the databases, on the main thread.
#include "ui/MetricsText.h"

class CKavroGyBl;
class KavroDatabase;

// database may be null (no server database figures: all 0).
MetricsSnapshot GatherMetrics(const CKavroGyBl& gybl, const KavroDatabase* database);
