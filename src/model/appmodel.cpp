#include "appmodel.h"

namespace Tarnwick {

AppModel::AppModel(QObject *parent) : QObject(parent) {}
AppModel::~AppModel() = default;

} // namespace Tarnwick
