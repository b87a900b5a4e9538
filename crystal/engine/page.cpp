#include "crystal/engine/page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <optional>

#include "crystal/engine/cell.h"
#include "crystal/engine/cell_exports.h"
#include "crystal/engine/slicing.h"
#include "crystal/engine/writers.h"
#include "image/bmp_file.h"

namespace crystal {

namespace {

constexpr ColourValue kBlack = rgb(0, 0, 0), kWhite = rgb(255, 255, 255);

bool sameSymbol(const std::string& p, const std::string& q) {
    if (p.size() != q.size()) return false;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(p[i])) !=
            std::tolower(static_cast<unsigned char>(q[i])))
            return false;
    return true;
}

void disc(Canvas& canvas, int x, int y, ColourValue colour) {
    canvas.ellipse(x - 3, y - 3, x + 3, y + 3, colour, colour);
}

}  // namespace

void searchFirstPlaneSuperCell(SlicingState& st, const CrystalModel& model) {
    if (st.layerCount < 1 || st.planeImages.empty()) return;
    const std::string& referenceSymbol =
        model.atoms.empty() ? std::string() : model.atoms[0].symbol;
    for (const PlaneImage& im : st.planeImages[0])
        if (sameSymbol(model.atoms[im.atom].symbol, referenceSymbol))
            searchSuperCell(st, {im.planeX, im.planeY, im.height});
}

int pageStartAfter(int first, int layerCount) {
    const int last = std::min(layerCount, first + 4) - 1;
    return last >= first ? pageAfter(last) : (first + 3) / 4 * 4;
}

void drawPage(const CrystalState& cs, Canvas& canvas, const PageLayout& layout, int first) {
    const SlicingState& st = cs.slicing;
    const CrystalModel& model = cs.model;
    const Lattice& l = st.lattice;
    const int W = canvas.width(), H = canvas.height();
    const int hx = (W - 275) / 4, hy = (H - 81) / 4;
    const int left = (W - 215) / 2 - hx, right = (W - 215) / 2 + hx;
    const int upper = (H - 9) / 2 - hy, lower = (H - 9) / 2 + hy;
    const Point centres[4] = {{left, upper}, {left, lower}, {right, upper}, {right, lower}};
    const FontMetrics fm = canvas.fontMetrics();
    const int lh = fm.height + fm.externalLeading + 1;
    const int largestIndex = std::max({std::abs(l.u), std::abs(l.v), std::abs(l.w)});
    const double largestAxis = std::max({l.a, l.b, l.c});
    const double scale = std::floor(layout.screenWidth / 1024.0 * 40 /
                                    (std::sqrt(double(largestIndex)) * largestAxis));

    canvas.fillRect(0, layout.top, W, H, kWhite);

    for (int n = first; n < st.layerCount && n < first + 4; ++n) {
        if (n >= static_cast<int>(st.planeImages.size())) continue;
        const Point c = centres[n % 4];
        for (const PlaneImage& im : st.planeImages[n]) {
            const AtomSite& site = model.atoms[im.atom];
            const double sx = scale * im.planeX, sy = scale * im.planeY;
            if (!(-32700 < sx && sx < 32700 && -32700 < sy && sy < 32700)) continue;
            const int px = static_cast<int>(sx), py = static_cast<int>(sy);
            if (-hx + 5 < px && px < hx - 5 && -hy + 5 < py && py < hy - 5)
                canvas.ellipse(c.x + px - 3, c.y - py - 3, c.x + px + 3, c.y - py + 3,
                               site.colourValue, site.colourValue);
        }
    }
    for (const Point& c : centres) {
        const Point frame[5] = {{c.x - hx + 2, c.y - hy + 2},
                                {c.x + hx - 2, c.y - hy + 2},
                                {c.x + hx - 2, c.y + hy - 2},
                                {c.x - hx + 2, c.y + hy - 2},
                                {c.x - hx + 2, c.y - hy + 2}};
        canvas.polyline(frame, 5, kBlack);
    }

    const int column = W - 230;
    const std::string lines[7] = {"a axis=" + model.a + "(Ang.)",
                                  "b axis=" + model.b + "(Ang.)",
                                  "c axis=" + model.c + "(Ang.)",
                                  "alpha=" + model.alpha + "(deg.)",
                                  "beta=" + model.beta + "(deg.)",
                                  "gamma=" + model.gamma + "(deg.)",
                                  "u=" + model.u + " v=" + model.v + " w=" + model.w};
    for (int k = 0; k < 7; ++k) canvas.text(column, 36 + k * lh, lines[k], kBlack);

    const int rows = static_cast<int>(l.sites.size());
    for (int i = 0; i < rows; ++i) {
        const AtomSite& site = model.atoms[i];
        const int top = (i + 7) * lh;
        canvas.ellipse(column, top + lh / 2 + 33, column + 6, top + lh / 2 + 39, site.colourValue,
                       site.colourValue);
        canvas.text(column + 8, top + 36,
                    core::formatMessage("%s (%.3g,%.3g,%.3g)", site.symbol.c_str(), l.sites[i].x,
                                        l.sites[i].y, l.sites[i].z),
                    kBlack);
        if ((i + 8) * lh + 36 > H - 10 - lh && rows - (i + 1) >= 2) {
            canvas.text(column, (i + 8) * lh + 36, "Following omitted.", kBlack);
            break;
        }
    }

    const double sxReal = scale * st.superCellX, syReal = scale * st.superCellY;
    if (st.superCellXFound && st.superCellYFound && -32700 < sxReal && sxReal < 32700 &&
        -32700 < syReal && syReal < 32700) {
        const int sx = static_cast<int>(sxReal), sy = static_cast<int>(syReal);
        const int x0 = left, y0 = H - 30, y1 = upper;
        if (sx <= hx - 5 && sy <= hy - 5) {
            const ColourValue ref = model.atoms.empty() ? kBlack : model.atoms[0].colourValue;
            canvas.line({x0, y0}, {x0 - sx, y0}, kBlack);
            disc(canvas, x0, y0, ref);
            disc(canvas, x0 - sx, y0, ref);
            canvas.text(x0 - sx - canvas.textWidth("X") - 9, y0 - fm.height / 2, "X", kBlack);
            canvas.line({15, y1}, {15, y1 + sy}, kBlack);
            disc(canvas, 15, y1, ref);
            disc(canvas, 15, y1 + sy, ref);
            canvas.text(15 - canvas.textWidth("Y") / 2, y1 - fm.height - 7, "Y", kBlack);
            for (int q = 0; q < 4; ++q) {
                if (first + q >= st.layerCount) continue;
                const Point c = centres[q];
                const Point box[5] = {
                    {c.x, c.y}, {c.x, c.y - sy}, {c.x + sx, c.y - sy}, {c.x + sx, c.y}, {c.x, c.y}};
                canvas.polyline(box, 5, kBlack);
            }
        }
        std::string info =
            core::formatMessage("X=%.7g(Ang.)  Y=%.7g(Ang.)", st.superCellX, st.superCellY);
        if (st.layerCount >= 1)
            info += core::formatMessage("  Layer distance=%.7g(Ang.)",
                                        std::fabs(st.layerHeights[0] - st.layerHeights[1]));
        if (st.periodicCell) {
            const double cellVolume = l.a * l.b * l.c * l.volumeTerm;
            info += core::formatMessage(core::text(text::kPeriodicInfo),
                                        st.superCellX * st.superCellY * st.repeatDistance / cellVolume,
                                        static_cast<unsigned long>(st.periodicAtoms),
                                        st.periodicStrain * 100);
        }
        canvas.text(x0 + 20, H - 25, info, kBlack);
    }
}

bool runSlicing(CrystalState& cs, Canvas& canvas, const PageLayout& layout, const Seams& seams,
                const std::function<void()>& pageDrawn) {
    const bool fresh = cs.freshComputation();
    SlicingState& st = cs.slicing;
    Lattice lattice;
    if (auto refusal = checkCrystal(cs.model, lattice)) {
        seams.sink.ask(refusal->text, refusal->caption, refusal->style);
        return false;
    }
    core::BusyScope busy(seams.busy);
    // Page turns show no please-wait box.
    core::NoBusyIndicator noWaitBox;
    core::BusyScope waitBox(fresh ? seams.waitBox : noWaitBox);
    const auto fail = [&](const Refusal& r) {
        waitBox.end();
        busy.end();
        seams.sink.ask(r.text, r.caption, r.style);
        return false;
    };

    Rotation rotation;
    if (auto refusal = orientToBeam(lattice, rotation)) return fail(*refusal);
    try {
        if (fresh) {
            double repeat = 0;
            if (auto refusal = measureRepeatDistance(lattice, rotation, repeat))
                return fail(*refusal);
            st.lattice = lattice;
            st.rotation = rotation;
            st.repeatDistance = repeat;
            st.planeImages.clear();
            st.slabThickness = cs.options.sliceThickness;
            if (auto refusal = sliceLayers(st)) return fail(*refusal);
            st.superCellX = st.superCellY = kSuperCellStart;
            st.superCellXFound = st.superCellYFound = false;
            st.periodicCell = false;
            if (cs.options.periodicCell) {
                const auto cell = findPeriodicCell(st.lattice, st.rotation, cs.options.maxStrain);
                if (!cell)
                    return fail({core::text(text::kNoPeriodicCell), "Error", core::kIconError});
                applyPeriodicCell(*cell, st);
            }
            st.planeImages = collectPlaneImages(st);
            if (st.periodicCell) st.periodicAtoms = periodicCellContent(cs.model, {}, st).atoms.size();
            waitBox.end();
        } else {
            // Texts changed since the computation (a cancelled dialog, a file read) are drawn as
            // they now stand, at the heights of the layer table.
            keepTurn(rotation, st.rotation);
            const bool stale = !sameOrientation(lattice, rotation, st.lattice, st.rotation);
            st.lattice = lattice;
            st.rotation = rotation;
            if (stale || static_cast<int>(st.planeImages.size()) != st.layerCount + 1)
                st.planeImages = collectPlaneImages(st);
        }
    } catch (const std::bad_alloc&) {
        return fail({text::kOutOfMemory, "Error", core::kIconError});
    }
    // Compute first (the super cell, the paging), then draw.
    const int first = cs.nextPlane;
    if (fresh && !st.periodicCell) searchFirstPlaneSuperCell(st, cs.model);
    cs.nextPlane = pageStartAfter(first, st.layerCount);
    drawPage(cs, canvas, layout, first);
    if (pageDrawn) pageDrawn();
    busy.end();
    if (!st.superCellXFound || !st.superCellYFound) {
        seams.sink.ask(text::kNoSuperCell, "Warning", core::kIconWarning);
        st.superCellX = st.superCellY = 0;
    }
    return true;
}

image::PackedDib emptyPageDib(int W, int Hc) {
    W = std::max(W, 0);
    Hc = std::max(Hc, 0);
    const std::size_t stride = (std::size_t(W) * 4 + 31) / 32 * 4;
    image::PackedDib dib;
    dib.block.assign(image::kInfoHeaderSize + 4 * kPaletteSize + stride * Hc, 0);
    dib.setU32(image::info::biSize, 40);
    dib.setU32(image::info::biWidth, std::uint32_t(W));
    dib.setU32(image::info::biHeight, std::uint32_t(Hc));
    dib.setU16(image::info::biPlanes, 1);
    dib.setU16(image::info::biBitCount, 4);
    dib.setU32(image::info::biSizeImage, std::uint32_t(stride * Hc));
    std::uint8_t* table = dib.block.data() + image::kInfoHeaderSize;
    for (int i = 0; i < kPaletteSize; ++i) {
        const ColourValue c = kPagePalette[i];
        table[4 * i + 0] = std::uint8_t(c >> 16);  // blue
        table[4 * i + 1] = std::uint8_t(c >> 8);   // green
        table[4 * i + 2] = std::uint8_t(c);        // red
    }
    return dib;
}

image::PackedDib capturePage(const RasterCanvas& canvas, int top) {
    top = std::clamp(top, 0, canvas.height());
    const int W = canvas.width(), Hc = canvas.height() - top;
    const std::size_t stride = (std::size_t(W) * 4 + 31) / 32 * 4;
    image::PackedDib dib = emptyPageDib(W, Hc);
    std::uint8_t* rows = dib.block.data() + image::kInfoHeaderSize + 4 * kPaletteSize;
    for (int r = 0; r < Hc; ++r) {
        const int y = top + (Hc - 1 - r);  // rows are stored bottom row first
        std::uint8_t* row = rows + std::size_t(r) * stride;
        const std::uint8_t* source = canvas.row(y);
        for (int x = 0; x + 1 < W; x += 2)
            row[x / 2] = std::uint8_t(source[x] << 4 | source[x + 1]);
        if (W % 2 != 0) row[W / 2] = std::uint8_t(source[W - 1] << 4);
    }
    return dib;
}

bool writePageBitmap(const std::string& path, image::CurrentImage& page, core::MessageSink& sink,
                     image::ReplacingSet* set) {
    return image::writeBitmapFile(path, page, image::BitmapFlavour::Kestral, sink, set);
}

bool RasterPages::capture(image::CurrentImage& page) {
    image::freeBitmap(page);
    try {
        page.dib = capturePage(canvas, layout.top);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool savePlaneBitmaps(CrystalState& cs, PageRenderer& pages, const std::string& path,
                      core::DiskServices& disk, core::MessageSink& sink) {
    SlicingState& st = cs.slicing;
    if (st.superCellX == 0 || st.superCellY == 0) {
        sink.ask(text::kNoBitmap, "Error", core::kIconWarning);
        return false;
    }
    image::CurrentImage page;
    const bool all =
        st.layerCount >= 5 && sink.ask(text::kSaveAllQuestion, "Question",
                                       core::kIconQuestion | core::kYesNo) == core::kAnswerYes;
    if (!all) {
        if (!disk.hasFreeDiskSpace(path, kPageBytes)) {
            sink.ask(text::kNoSpaceOne, "Error", core::kIconError);
            return false;
        }
        if (!pages.capture(page)) {
            sink.ask(text::kOutOfMemory, "Error", core::kIconError);
            return false;
        }
        const bool ok = writePageBitmap(path, page, sink);
        image::freeBitmap(page);
        if (ok)
            sink.ask(core::formatMessage("A bitmap file\n%s\nhas been successfully created.",
                                         path.c_str()),
                     "Success", core::kIconInformation);
        return ok;
    }

    const int pageCount = (st.layerCount + 3) / 4;
    if (!disk.hasFreeDiskSpace(path, kPageBytes * std::uint64_t(pageCount))) {
        sink.ask(text::kNoSpaceAll, "Error", core::kIconError);
        return false;
    }
    if (!pages.capture(page)) {
        sink.ask(text::kOutOfMemory, "Error", core::kIconError);
        return false;
    }
    const int rememberedNext = cs.nextPlane;
    const bool rememberedRevisiting = cs.revisiting;
    // All pages are one set: they replace older files only when every page was written.
    image::ReplacingSet pageFiles;
    cs.nextPlane = 0;
    bool firstPage = true;
    while (cs.nextPlane < st.layerCount) {
        bool captured = true;
        if (firstPage) {
            // The page on screen is the first one only when nextPlane was 4.
            if (rememberedNext != 4) {
                cs.revisiting = true;
                pages.runSlicing(cs);
                cs.revisiting = false;
                captured = pages.capture(page);
            }
            cs.nextPlane = 4;
            firstPage = false;
        } else {
            cs.revisiting = true;
            pages.runSlicing(cs);
            cs.revisiting = false;
            captured = pages.capture(page);
        }
        const int number = cs.nextPlane / 4;
        if (!captured || !writePageBitmap(numberedName(path, number), page, sink, &pageFiles)) {
            if (!captured) sink.ask(text::kOutOfMemory, "Error", core::kIconError);
            image::freeBitmap(page);
            pageFiles.discard();
            return false;
        }
        image::freeBitmap(page);
    }
    if (cs.nextPlane != rememberedNext) {
        cs.nextPlane = rememberedNext - 4;
        cs.revisiting = true;
        pages.runSlicing(cs);
    }
    cs.revisiting = rememberedRevisiting;
    if (!pageFiles.commit()) {
        sink.ask("Error: File write error.", "Error", core::kIconError);
        return false;
    }
    std::string stem, suffix;
    splitNumberedName(path, stem, suffix);
    sink.ask(core::formatMessage(
                 "Bitmap file(s)\n%s%d%s to\n%s%d%s\nhas been successfully created.", stem.c_str(),
                 1, suffix.c_str(), stem.c_str(), pageCount, suffix.c_str()),
             "Success", core::kIconInformation);
    return true;
}

}  // namespace crystal
