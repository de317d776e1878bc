#pragma once
// The benchmarks' floor: a bare GL loop with one program, one vertex array
// and one draw call per full-screen textured blended quad, into a
// framebuffer of the frame's size, on a context of its own.
#include <SDL.h>
#include <epoxy/gl.h>

#include <cstdint>
#include <vector>

namespace lum::bench {

struct TBareLoop {
  static constexpr int kW = 1920, kH = 1080;  // the frame
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  GLuint program = 0, vao = 0, vbo = 0, fbo = 0, target = 0, texture = 0;

  bool Init(const std::vector<uint8_t>& pixels, int tw, int th) {
    window = SDL_CreateWindow("bare", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return false;
    context = SDL_GL_CreateContext(window);
    if (!context) return false;
    const char* vs =
        "#version 330 core\nlayout(location=0) in vec2 p; layout(location=1) in vec2 t;"
        "out vec2 uv; void main(){ uv = t; gl_Position = vec4(p, 0.0, 1.0); }";
    const char* fs =
        "#version 330 core\nin vec2 uv; uniform sampler2D s0; out vec4 o;"
        "void main(){ vec4 c = texture(s0, uv); o = vec4(c.rgb, c.a * 0.5); }";
    GLuint v = glCreateShader(GL_VERTEX_SHADER), f = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(v, 1, &vs, nullptr);
    glShaderSource(f, 1, &fs, nullptr);
    glCompileShader(v);
    glCompileShader(f);
    program = glCreateProgram();
    glAttachShader(program, v);
    glAttachShader(program, f);
    glLinkProgram(program);
    glUseProgram(program);
    const float su = static_cast<float>(kW) / tw, sv = static_cast<float>(kH) / th;
    const float quad[] = {-1, 1, 0, 0, 1, 1,  su, 0,  1,  -1, su, sv,
                          -1, 1, 0, 0, 1, -1, su, sv, -1, -1, 0,  sv};
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(8));
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, tw, th, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    glGenTextures(1, &target);
    glBindTexture(GL_TEXTURE_2D, target);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kW, kH, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glViewport(0, 0, kW, kH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  }
  void Frame(int k) {
    if (SDL_GL_GetCurrentContext() != context) SDL_GL_MakeCurrent(window, context);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    for (int i = 0; i < k; ++i) glDrawArrays(GL_TRIANGLES, 0, 6);
    glFinish();
  }
};

}  // namespace lum::bench
