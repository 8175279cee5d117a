#pragma once
// The first update of the map view at start: the captions of the layer control, the layers of the
// map-set file and the built-in ones, the work-area rectangles, and the loading of the map files in
// the background with the status-bar progress.
class CKavroGyBl;
class KavroDatabase;
class MapLoader;
class MapMonitor;
class MonitorEvents;
class WorkAreas;

void StartMapView(CKavroGyBl& gybl, KavroDatabase& database, WorkAreas& areas, MapMonitor& map,
                  MonitorEvents& events, MapLoader& loader);
// Draws the work areas of the list in layer "Scope" (read from the local file; the server database is
// not waited for, so with it in use the layer stays as it is).
void ShowWorkAreas(CKavroGyBl& gybl, WorkAreas& areas, MapMonitor& map);
