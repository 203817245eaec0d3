#include "qzhost/services/open_panel.h"

#include "qzhost/services/host.h"

namespace qzhost {
namespace {

void *activatePanel(Host &host, const HostedFilter &filter) {
    const FilterServer &server = filter.server();
    const ServerEntry &entry = server.module().server(HOST_INTERFACE_CLASS, server.name());
    InterfaceRecord record{filter.instance(), nullptr, nullptr, nullptr};
    const int result = entry.activate(HOST_INTERFACE_VERSION, host.lookup(), &record, nullptr);
    if (result != ACTIVATE_OK || !record.panel) {
        throw HostError("interface '" + server.name() + "' in '" + server.module().file().string() + "' " +
                        activationProblem(result == ACTIVATE_OK ? ACTIVATE_MISSING_SERVICE : result));
    }
    return record.panel;
}

}  // namespace

OpenPanel::OpenPanel(Host &host, const HostedFilter &filter)
    : host_(host), handle_(activatePanel(host, filter)), panel_(host.panels().get(handle_)) {}

OpenPanel::~OpenPanel() { host_.panels().destroy(handle_); }

const Control *OpenPanel::preview() const {
    for (const Control &control : panel_.controls) {
        if (control.type == HOST_CONTROL_THUMBNAIL && panel_.hints.previewDraw.count(control.id)) return &control;
    }
    return nullptr;
}

void OpenPanel::draw(Raster &raster) {
    const Control *control = preview();
    if (!control) throw BadRequest("the panel has no preview");
    panel_.hints.previewDraw.at(control->id)(handle_, control->id, &raster, raster.width, raster.height);
}

void OpenPanel::gesture(int x, int y, const int (&box)[4]) {
    const Control *control = preview();
    const auto drag = control ? panel_.hints.previewDrag.find(control->id) : panel_.hints.previewDrag.end();
    if (drag == panel_.hints.previewDrag.end()) throw BadRequest("the preview takes no clicks");
    int region[4] = {box[0], box[1], box[2], box[3]};
    drag->second.function(handle_, control->id, x, y, region, 0);
}

void OpenPanel::press(unsigned long id) {
    const auto button = panel_.hints.buttons.find(id);
    if (button == panel_.hints.buttons.end()) throw BadRequest("control " + std::to_string(id) + " is no button");
    button->second(handle_, static_cast<int>(id));
}

void OpenPanel::notify(int event) {
    if (panel_.hints.changeNotify) panel_.hints.changeNotify(handle_, 0, 0, event);
}

bool OpenPanel::holdsValue(unsigned long id) const {
    const Control *control = panel_.control(id);
    return control && control->type == HOST_CONTROL_FLOAT_ENV;
}

AnimatedParam &OpenPanel::param(unsigned long id) const {
    const ParamHandle handle = holdsValue(id) && panel_.get ? panel_.get(panel_.instance, id) : nullptr;
    if (!handle) throw BadRequest("control " + std::to_string(id) + " holds no value");
    return host_.params().get(handle);
}

double OpenPanel::value(unsigned long id) const { return param(id).animation.valueAt(host_.editTime()); }

bool OpenPanel::setValue(unsigned long id, double value) {
    if (auto refusal = editValue(param(id), host_.editTime(), value)) {
        throw BadRequest(*refusal);
    }
    double values[3] = {value, 0.0, 0.0};
    return panel_.set && panel_.set(panel_.instance, id, values) == HOST_PANEL_VALUE_CHANGED;
}

}  // namespace qzhost
