#include "crystal/engine/cell_sketch.h"

#include <algorithm>

namespace crystal {

Point sketchPosition(const AtomSite& site) {
    const double x = realOf(site.x), y = realOf(site.y), z = realOf(site.z);
    return {static_cast<int>(98 - 70 * x + 100 * y), static_cast<int>(128 + 70 * x - 100 * z)};
}

void drawCellSketch(Canvas& canvas, const CrystalModel& model, int rowCount) {
    constexpr ColourValue kBlack = rgb(0, 0, 0);
    const Point axes[3] = {{98, 29}, {98, 128}, {198, 128}};
    canvas.styledPolyline(axes, 3, kBlack, PenStyle::Wide);
    const Point aAxis[2] = {{98, 128}, {29, 197}};
    canvas.styledPolyline(aAxis, 2, kBlack, PenStyle::Wide);

    const int rows = std::clamp(rowCount, 0, static_cast<int>(model.atoms.size()));
    for (int i = 0; i < rows; ++i) {
        const AtomSite& site = model.atoms[i];
        const Point p = sketchPosition(site);
        canvas.ellipse(p.x - 3, p.y - 3, p.x + 3, p.y + 3, site.colourValue, site.colourValue);
    }

    const Point top[4] = {{98, 28}, {198, 28}, {128, 98}, {28, 98}};
    const Point topLeft[2] = {{97, 28}, {28, 98}};
    const Point far[5] = {{198, 28}, {198, 128}, {128, 198}, {28, 198}, {28, 98}};
    const Point front[2] = {{128, 98}, {128, 198}};
    canvas.styledPolyline(top, 4, kBlack, PenStyle::Dotted);
    canvas.styledPolyline(topLeft, 2, kBlack, PenStyle::Dotted);
    canvas.styledPolyline(far, 5, kBlack, PenStyle::Dotted);
    canvas.styledPolyline(front, 2, kBlack, PenStyle::Dotted);

    canvas.text(16, 199, "a", kBlack);
    canvas.text(208, 120, "b", kBlack);
    canvas.text(93, 7, "c", kBlack);
}

}  // namespace crystal
