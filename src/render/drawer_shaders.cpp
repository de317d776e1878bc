#include "render/drawer_shaders.h"

namespace lum {

namespace {

struct TShaderSource {
  const char* name;
  const char* code;
};

// Field interpolation of luma: c[1] = (height, 1/height), c[2].xy = offsy.
#define LUM_DEINTER_LUMA                                \
  "float deinterLuma(sampler2D Y, vec2 uv) {\n"         \
  "  float r = uv.y * c[1].x + c[2].y;\n"               \
  "  float k = floor(r / 2.0);\n"                       \
  "  float a = (2.0 * k + c[2].x + 2.5) * c[1].y;\n"    \
  "  float b = (2.0 * k + 0.5 + c[2].x) * c[1].y;\n"    \
  "  float f = (r - 2.0 * k - 0.5) / 2.0;\n"            \
  "  return f * texture(Y, vec2(uv.x, a)).r +\n"        \
  "         (1.0 - f) * texture(Y, vec2(uv.x, b)).r;\n" \
  "}\n"

#define LUM_GRADE_YUV(LUMA)                                                          \
  "uniform sampler2D s0;\nuniform sampler2D s1;\nuniform sampler2D s2;\n"            \
  "uniform sampler3D s3;\nuniform sampler3D s4;\n" LUMA                              \
  "vec3 gradeYuv(float y) {\n"                                                       \
  "  vec3 p = vec3(texture(s2, t0).r, texture(s1, t0).r, y) * 0.96875 + 0.015625;\n" \
  "  return mix(texture(s3, p).rgb, texture(s4, p).rgb, c[0].x);\n"                  \
  "}\n"

#define LUM_CHROMA_ALPHA                                                                     \
  "float keyAlpha() {\n"                                                                     \
  "  float d = (abs(texture(s1, t0).r - c[4].x) + abs(texture(s2, t0).r - c[4].y)) * 0.5;\n" \
  "  return d >= c[3].x ? v0.a : d * d * c[3].y * c[3].y * v0.a;\n"                          \
  "}\n"

#define LUM_YUV_RGB                                                                   \
  "uniform sampler2D s0;\nuniform sampler2D s1;\nuniform sampler2D s2;\n"             \
  "vec4 yuvToRgb(float Y) {\n"                                                        \
  "  float y = (Y - 0.0625) * c[4].x;\n"                                              \
  "  float u = texture(s1, t0).r - 0.5, v = texture(s2, t0).r - 0.5;\n"               \
  "  vec3 rgb = vec3(y + c[0].x * v, y - c[1].x * v - c[2].x * u, y + c[3].x * u);\n" \
  "  return vec4(clamp(rgb, 0.0, 1.0), v0.a);\n"                                      \
  "}\n"

// Field interpolation constants of the unpicked YUV variant live after the
// colour constants: c[5] = srcsizey, c[6] = offsy.
#define LUM_DEINTER_LUMA_HIGH                           \
  "float deinterLuma(sampler2D Y, vec2 uv) {\n"         \
  "  float r = uv.y * c[5].x + c[6].y;\n"               \
  "  float k = floor(r / 2.0);\n"                       \
  "  float a = (2.0 * k + c[6].x + 2.5) * c[5].y;\n"    \
  "  float b = (2.0 * k + 0.5 + c[6].x) * c[5].y;\n"    \
  "  float f = (r - 2.0 * k - 0.5) / 2.0;\n"            \
  "  return f * texture(Y, vec2(uv.x, a)).r +\n"        \
  "         (1.0 - f) * texture(Y, vec2(uv.x, b)).r;\n" \
  "}\n"

#define LUM_GAUSS(AXIS)                                                      \
  "uniform sampler2D s0;\n"                                                  \
  "vec4 at(float k) {\n"                                                     \
  "  vec2 p = t0;\n"                                                         \
  "  p." AXIS " = clamp(p." AXIS                                             \
  " + k * c[1].x, 0.0, 1.0);\n"                                              \
  "  return texture(s0, p);\n"                                               \
  "}\n"                                                                      \
  "void main() {\n"                                                          \
  "  oC0 = at(0.0) * c[0].w + (at(-1.0) + at(1.0)) * c[0].z +\n"             \
  "        (at(-2.0) + at(2.0)) * c[0].y + (at(-3.0) + at(3.0)) * c[0].x;\n" \
  "}\n"

const TShaderSource kShaders[shCount] = {
    {"unsharp",
     "uniform sampler2D s0;\n"
     "void main() {\n"
     "  vec2 d = c[0].xy;\n"
     "  vec4 m = texture(s0, t0);\n"
     "  vec4 b = m * 4.0;\n"
     "  b += (texture(s0, t0 + vec2(-d.x, 0.0)) + texture(s0, t0 + vec2(d.x, 0.0)) +\n"
     "        texture(s0, t0 + vec2(0.0, -d.y)) + texture(s0, t0 + vec2(0.0, d.y))) * 2.0;\n"
     "  b += texture(s0, t0 - d) + texture(s0, t0 + d) +\n"
     "       texture(s0, t0 + vec2(d.x, -d.y)) + texture(s0, t0 + vec2(-d.x, d.y));\n"
     "  vec3 diff = m.rgb - b.rgb / 16.0;\n"
     "  vec3 sharp = m.rgb + diff * c[2].x;\n"
     "  oC0 = vec4(mix(m.rgb, sharp, step(vec3(c[1].x), abs(diff))), m.a);\n"
     "}\n"},
    {"videomask",
     "uniform sampler2D s0;\n"
     "void main() {\n"
     "  float m = (texture(s0, t0).r - 0.0625) * 1.16438;\n"
     "  if (c[0].x == 1.0) m = 1.0 - m;\n"
     "  oC0 = vec4(m, m, m, m * v0.a);\n"
     "}\n"},
    {"color_grading",
     "uniform sampler2D s0;\nuniform sampler3D s1;\nuniform sampler3D s2;\n"
     "void main() {\n"
     "  vec4 t = texture(s0, t0);\n"
     "  vec3 p = t.rgb * v0.rgb * 0.96875 + 0.015625;\n"
     "  oC0 = vec4(mix(texture(s1, p).rgb, texture(s2, p).rgb, c[0].x), t.a * v0.a);\n"
     "}\n"},
    {"color_grade_linear",
     "uniform sampler2D s0;\nuniform sampler2D s1;\nuniform sampler2D s2;\n"
     "vec3 curve(sampler2D s, vec3 p) {\n"
     "  return vec3(texture(s, p.rr).r, texture(s, p.gg).g, texture(s, p.bb).b);\n"
     "}\n"
     "void main() {\n"
     "  vec4 t = texture(s0, t0);\n"
     "  vec3 p = t.rgb * v0.rgb * 0.996094 + 0.00195312;\n"
     "  oC0 = vec4(mix(curve(s1, p), curve(s2, p), c[0].x), t.a * v0.a);\n"
     "}\n"},
    {"color_grade_video", LUM_GRADE_YUV("") "void main() {\n"
                                            "  oC0 = vec4(gradeYuv(texture(s0, t0).r), v0.a);\n"
                                            "}\n"},
    {"color_grade_deinter",
     LUM_GRADE_YUV(LUM_DEINTER_LUMA) "void main() {\n"
                                     "  oC0 = vec4(gradeYuv(deinterLuma(s0, t0)), v0.a);\n"
                                     "}\n"},
    {"color_grade_chromakey",
     LUM_GRADE_YUV("") LUM_CHROMA_ALPHA "void main() {\n"
                                        "  oC0 = vec4(gradeYuv(texture(s0, t0).r), keyAlpha());\n"
                                        "}\n"},
    {"color_grade_chroma_deinter", LUM_GRADE_YUV(LUM_DEINTER_LUMA) LUM_CHROMA_ALPHA
     "void main() {\n"
     "  oC0 = vec4(gradeYuv(deinterLuma(s0, t0)), keyAlpha());\n"
     "}\n"},
    {"premul",
     "uniform sampler2D s0;\nuniform sampler2D s1;\n"
     "void main() {\n"
     "  vec4 x = texture(s0, t0) * texture(s1, t1);\n"
     "  oC0 = vec4(x.a > 0.0 ? x.rgb / x.a : vec3(0.0), x.a * v0.a);\n"
     "}\n"},
    {"premul2",
     "uniform sampler2D s0;\nuniform sampler2D s1;\n"
     "void main() {\n"
     "  vec4 b = texture(s1, t1);\n"
     "  vec4 x = vec4(b.a > 0.0 ? b.rgb / b.a : vec3(0.0), b.a) * texture(s0, t0);\n"
     "  oC0 = vec4(x.rgb, x.a * v0.a);\n"
     "}\n"},
    {"premul3",
     "uniform sampler2D s0;\nuniform sampler2D s1;\n"
     "void main() {\n"
     "  vec4 m = texture(s0, t0);\n"
     "  float g = (1.0 - abs(m.r - m.g)) * (1.0 - abs(m.g - m.b)) * (1.0 - abs(m.b - m.r));\n"
     "  vec4 mask = vec4(mix(m.rgb, vec3(1.0), g), max(m.r, max(m.g, m.b)));\n"
     "  vec4 p = texture(s1, t1);\n"
     "  vec4 x = p * mask;\n"
     "  oC0 = vec4(p.a > 0.0 ? x.rgb / p.a : vec3(0.0), x.a * v0.a);\n"
     "}\n"},
    {"gauss_blur_h7", LUM_GAUSS("x")},
    {"gauss_blur_v7", LUM_GAUSS("y")},
    {"gauss_mix",
     "uniform sampler2D s0;\nuniform sampler2D s1;\n"
     "void main() {\n"
     "  oC0 = mix(texture(s0, t0), texture(s1, t1), c[0].x);\n"
     "}\n"},
    {"yuv_rgb", LUM_YUV_RGB "void main() {\n"
                            "  oC0 = yuvToRgb(texture(s0, t0).r);\n"
                            "}\n"},
    {"yuv_rgb_deinter", LUM_YUV_RGB LUM_DEINTER_LUMA_HIGH "void main() {\n"
                                                          "  oC0 = yuvToRgb(deinterLuma(s0, t0));\n"
                                                          "}\n"},
    {"copy",
     "uniform sampler2D s0;\n"
     "void main() {\n"
     "  oC0 = texture(s0, t0);\n"
     "}\n"},
    // c[0] = TxSz (height, 1/height): even lines from s0, odd lines from s1.
    {"field_weave",
     "uniform sampler2D s0;\nuniform sampler2D s1;\n"
     "void main() {\n"
     "  float line = floor(t0.y * c[0].x);\n"
     "  oC0 = mod(line, 2.0) < 0.5 ? texture(s0, t0) : texture(s1, t0);\n"
     "}\n"},
    // c[0] = offs (0, 1/height), c[1] = Bounds (lowest v, highest v).
    {"line_average",
     "uniform sampler2D s0;\n"
     "void main() {\n"
     "  vec2 below = vec2(t0.x, clamp(t0.y + c[0].y, c[1].x, c[1].y));\n"
     "  oC0 = (texture(s0, t0) + texture(s0, below)) * 0.5;\n"
     "}\n"},
    // c[0] = TxSz, c[1] = offs, c[2] = Bounds.
    {"weave_average",
     "uniform sampler2D s0;\nuniform sampler2D s1;\n"
     "void main() {\n"
     "  float line = floor(t0.y * c[0].x);\n"
     "  vec2 below = vec2(t0.x, clamp(t0.y + c[1].y, c[2].x, c[2].y));\n"
     "  oC0 = mod(line, 2.0) < 0.5 ? texture(s0, t0)\n"
     "                             : (texture(s1, t0) + texture(s1, below)) * 0.5;\n"
     "}\n"},
    {"video_range",
     "uniform sampler2D s0;\n"
     "void main() {\n"
     "  oC0 = vec4(texture(s0, t0).rgb * 0.862745 + 0.0585938, 1.0);\n"
     "}\n"},
    {"color_grade_one",
     "uniform sampler2D s0;\nuniform sampler3D s1;\n"
     "void main() {\n"
     "  vec4 t = texture(s0, t0);\n"
     "  vec3 p = t.rgb * v0.rgb * 0.96875 + 0.015625;\n"
     "  oC0 = vec4(texture(s1, p).rgb, t.a * v0.a);\n"
     "}\n"},
    {"color_grade_linear_one",
     "uniform sampler2D s0;\nuniform sampler2D s1;\n"
     "void main() {\n"
     "  vec4 t = texture(s0, t0);\n"
     "  vec3 p = t.rgb * v0.rgb * 0.996094 + 0.00195312;\n"
     "  oC0 = vec4(texture(s1, p.rr).r, texture(s1, p.gg).g, texture(s1, p.bb).b, t.a * v0.a);\n"
     "}\n"},
};

}  // namespace

std::string_view DrawerShaderName(int shader) {
  return shader >= 0 && shader < shCount ? kShaders[shader].name : "";
}

std::string_view DrawerShaderCode(int shader) {
  return shader >= 0 && shader < shCount ? kShaders[shader].code : "";
}

}  // namespace lum
