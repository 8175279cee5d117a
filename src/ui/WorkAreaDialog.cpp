#include "ui/WorkAreaDialog.h"

#include <algorithm>
#include <cmath>

DialogTexts WorkAreaDialogTexts() {
  return {"工作区范围设置",
          {{1047, "右下角B"},     {1048, "右下角L"},     {1049, "左上角B"},   {1050, "左上角L"},
           {1051, "控制区名"},    {1052, "Dx(m)"},       {1053, "Dy(m)"},     {1054, "Dz(m)"},
           {1055, "Rx(秒)"},      {1056, "Ry(秒)"},      {1057, "Rz(秒)"},    {1058, "Scale(ppm)"},
           {1062, "参数发播"},    {1064, "水准精化"},    {1044, "增加"},      {1045, "编辑完成"},
           {1043, "删除"},        {1046, "坐标选取"},    {1, "退出"}}};
}

DialogTexts WorkAreaNameDialogTexts() { return {"增加", {{1051, "控制区名"}, {1, "OK"}, {2, "取消"}}}; }

namespace {

double FloorSixDecimals(double value) { return std::floor(value * 1000000.0) / 1000000.0; }

}  // namespace

AreaBounds PickedBounds(double latitude1, double longitude1, double latitude2, double longitude2) {
  return {FloorSixDecimals(std::min(latitude1, latitude2)), FloorSixDecimals(std::max(latitude1, latitude2)),
          FloorSixDecimals(std::min(longitude1, longitude2)), FloorSixDecimals(std::max(longitude1, longitude2))};
}

void WorkAreaDialog::Open() {
  form_.open = true;
  const bool loaded = std::find(list_.begin(), list_.end(), form_.selected) != list_.end();
  if (!loaded && !list_.empty()) Select(list_.front());
}

bool WorkAreaDialog::Select(const std::string& name) {
  AreaBounds bounds{};
  AreaParameters parameters;
  if (areas_.GetWorkArea(name, bounds, parameters) != 1) return false;
  form_.selected = name;
  form_.bounds = bounds;
  form_.parameters = parameters;
  return true;
}

bool WorkAreaDialog::Add(const std::string& name, std::string& error) {
  if (name.empty() || name.size() > WorkAreas::kNameBytes) {
    error = "A work-area name needs 1 to 250 bytes";
    return false;
  }
  if (areas_.AddWorkArea(name) != 1) {
    error = "Repeat Name";
    return false;
  }
  // A new area has a zero rectangle and no parameters; on the server database the insert is still
  // queued, so it is not read back.
  form_.selected = name;
  form_.bounds = {};
  form_.parameters = {};
  return true;
}

bool WorkAreaDialog::Save(const AreaBounds& bounds, const AreaParameters& parameters) {
  if (form_.selected.empty()) return false;
  if (areas_.SaveWorkArea(form_.selected, bounds, parameters) != 1) return false;
  form_.bounds = bounds;
  form_.parameters = parameters;
  return true;
}

bool WorkAreaDialog::Delete() {
  if (form_.selected.empty()) return false;
  const auto at = std::find(list_.begin(), list_.end(), form_.selected);
  const size_t index = at == list_.end() ? 0 : static_cast<size_t>(at - list_.begin());
  if (areas_.DeleteWorkArea(form_.selected) != 1) return false;
  form_.selected.clear();
  form_.bounds = {};
  form_.parameters = {};
  if (!list_.empty()) Select(list_[index == 0 ? 0 : std::min(index - 1, list_.size() - 1)]);
  return true;
}

void WorkAreaDialog::Pick(double latitude1, double longitude1, double latitude2, double longitude2) {
  form_.bounds = PickedBounds(latitude1, longitude1, latitude2, longitude2);
}

WorkAreaForm WorkAreaDialog::form() const {
  WorkAreaForm form = form_;
  form.names = list_;
  return form;
}

bool WorkAreaDialog::ShownRectangle(AreaBounds& bounds) const {
  if (!form_.open || form_.selected.empty()) return false;
  if (std::any_of(form_.bounds.begin(), form_.bounds.end(), [](double v) { return v == 0.0; })) return false;
  bounds = form_.bounds;
  return true;
}
