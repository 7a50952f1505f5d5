// What every part of the skin paints with: ARGB colours, PNG pictures through cairo, and single
// lines of text through pango.
#include "platform/skin/skin_internal.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

namespace {

struct LayoutRelease {
    void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
struct FontRelease {
    void operator()(PangoFontDescription* font) const { pango_font_description_free(font); }
};

std::unique_ptr<PangoLayout, LayoutRelease> MakeLayout(cairo_t* cr, const std::string& text,
                                                       const TextStyle& style) {
    std::unique_ptr<PangoLayout, LayoutRelease> layout(pango_cairo_create_layout(cr));
    std::unique_ptr<PangoFontDescription, FontRelease> font(pango_font_description_new());
    pango_font_description_set_family(font.get(), style.face ? style.face->c_str() : "Sans");
    pango_font_description_set_absolute_size(font.get(),
                                             std::max(1, style.pixelSize) * PANGO_SCALE);
    pango_font_description_set_weight(font.get(),
                                      style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), text.c_str(), static_cast<int>(text.size()));
    return layout;
}

} // namespace

Picture LoadPicture(const std::string& path) {
    Picture picture(cairo_image_surface_create_from_png(path.c_str()));
    if (cairo_surface_status(picture.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    if (cairo_image_surface_get_width(picture.get()) <= 0 ||
        cairo_image_surface_get_height(picture.get()) <= 0)
        return nullptr;
    return picture;
}

void PaintPicture(cairo_t* cr, cairo_surface_t* picture, int width, int height) {
    if (!picture || width <= 0 || height <= 0) return;
    const int pw = cairo_image_surface_get_width(picture);
    const int ph = cairo_image_surface_get_height(picture);
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_clip(cr);
    cairo_scale(cr, static_cast<double>(width) / pw, static_cast<double>(height) / ph);
    cairo_set_source_surface(cr, picture, 0, 0);
    // At its own size the picture is copied pixel for pixel; scaled, it is filtered smoothly.
    cairo_pattern_set_filter(cairo_get_source(cr), (pw == width && ph == height)
                                                       ? CAIRO_FILTER_NEAREST
                                                       : CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
}

void MeasureText(cairo_t* cr, const std::string& text, const TextStyle& style, int* width,
                 int* height) {
    auto layout = MakeLayout(cr, text, style);
    pango_layout_get_pixel_size(layout.get(), width, height);
}

void ShowText(cairo_t* cr, const std::string& text, const TextStyle& style, double x,
              double centreY, int maxWidth) {
    if (maxWidth <= 0) return;
    auto layout = MakeLayout(cr, text, style);
    pango_layout_set_width(layout.get(), maxWidth * PANGO_SCALE);
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    int w = 0;
    int h = 0;
    pango_layout_get_pixel_size(layout.get(), &w, &h);
    SetSourceArgb(cr, style.argb);
    cairo_move_to(cr, x, std::floor(centreY - h / 2.0));
    pango_cairo_show_layout(cr, layout.get());
}
