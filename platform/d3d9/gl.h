// The OpenGL entry points the Direct3D layer calls, loaded through SDL once a context exists so
// that they match the context SDL made (GLX or EGL). Private to platform/d3d9.
#pragma once

#include <SDL.h>
#include <SDL_opengl.h>

#include <cstdint>

namespace rh::d3d9 {

// X(return type, name without the gl prefix, parameter list)
#define RH_D3D9_GL_FUNCTIONS(X)                                                          \
    X(GLenum, GetError, (void))                                                          \
    X(const GLubyte*, GetString, (GLenum name))                                          \
    X(void, GetIntegerv, (GLenum name, GLint * values))                                  \
    X(void, GetFloatv, (GLenum name, GLfloat * values))                                  \
    X(void, GetBooleanv, (GLenum name, GLboolean * values))                              \
    X(GLboolean, IsEnabled, (GLenum cap))                                                \
    X(void, Enable, (GLenum cap))                                                        \
    X(void, Disable, (GLenum cap))                                                       \
    X(void, Viewport, (GLint x, GLint y, GLsizei width, GLsizei height))                 \
    X(void, Scissor, (GLint x, GLint y, GLsizei width, GLsizei height))                  \
    X(void, DepthRange, (GLclampd nearValue, GLclampd farValue))                         \
    X(void, ClearColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a))                \
    X(void, ClearDepth, (GLclampd depth))                                                \
    X(void, ClearStencil, (GLint stencil))                                               \
    X(void, Clear, (GLbitfield mask))                                                    \
    X(void, ColorMask, (GLboolean r, GLboolean g, GLboolean b, GLboolean a))             \
    X(void, DepthMask, (GLboolean flag))                                                 \
    X(void, StencilMask, (GLuint mask))                                                  \
    X(void, DepthFunc, (GLenum func))                                                    \
    X(void, BlendFuncSeparate, (GLenum srcRgb, GLenum dstRgb, GLenum srcA, GLenum dstA)) \
    X(void, BlendEquationSeparate, (GLenum rgb, GLenum alpha))                           \
    X(void, BlendColor, (GLclampf r, GLclampf g, GLclampf b, GLclampf a))                \
    X(void, AlphaFunc, (GLenum func, GLclampf ref))                                      \
    X(void, CullFace, (GLenum mode))                                                     \
    X(void, FrontFace, (GLenum mode))                                                    \
    X(void, PolygonMode, (GLenum face, GLenum mode))                                     \
    X(void, PolygonOffset, (GLfloat factor, GLfloat units))                              \
    X(void, ShadeModel, (GLenum mode))                                                   \
    X(void, StencilFuncSeparate, (GLenum face, GLenum func, GLint ref, GLuint mask))     \
    X(void, StencilOpSeparate, (GLenum face, GLenum fail, GLenum zfail, GLenum zpass))   \
    X(void, StencilMaskSeparate, (GLenum face, GLuint mask))                             \
    X(void, ReadPixels, (GLint x, GLint y, GLsizei w, GLsizei h, GLenum format,          \
                         GLenum type, GLvoid * pixels))                                  \
    X(void, PixelStorei, (GLenum name, GLint value))                                     \
    X(void, ReadBuffer, (GLenum mode))                                                   \
    X(void, DrawBuffer, (GLenum mode))                                                   \
    X(void, Finish, (void))                                                              \
    X(void, Flush, (void))                                                               \
    X(void, GenFramebuffers, (GLsizei n, GLuint * names))                                \
    X(void, DeleteFramebuffers, (GLsizei n, const GLuint* names))                        \
    X(void, BindFramebuffer, (GLenum target, GLuint name))                               \
    X(GLenum, CheckFramebufferStatus, (GLenum target))                                   \
    X(void, FramebufferRenderbuffer, (GLenum target, GLenum attachment,                  \
                                      GLenum renderbufferTarget, GLuint renderbuffer))   \
    X(void, GenRenderbuffers, (GLsizei n, GLuint * names))                               \
    X(void, DeleteRenderbuffers, (GLsizei n, const GLuint* names))                       \
    X(void, BindRenderbuffer, (GLenum target, GLuint name))                              \
    X(void, RenderbufferStorage, (GLenum target, GLenum format, GLsizei w, GLsizei h))   \
    X(void, GetRenderbufferParameteriv, (GLenum target, GLenum name, GLint * value))     \
    X(void, BlitFramebuffer, (GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1,        \
                              GLint dstX0, GLint dstY0, GLint dstX1, GLint dstY1,        \
                              GLbitfield mask, GLenum filter))                           \
    X(void, GenBuffers, (GLsizei n, GLuint * names))                                     \
    X(void, DeleteBuffers, (GLsizei n, const GLuint* names))                             \
    X(void, BindBuffer, (GLenum target, GLuint name))                                    \
    X(void, BufferData, (GLenum target, GLsizeiptr size, const void* data, GLenum usage)) \
    X(void, BufferSubData, (GLenum target, GLintptr offset, GLsizeiptr size,             \
                            const void* data))                                           \
    X(void, GetBufferSubData, (GLenum target, GLintptr offset, GLsizeiptr size,          \
                               void* data))                                              \
    X(void, EnableVertexAttribArray, (GLuint index))                                     \
    X(void, DisableVertexAttribArray, (GLuint index))                                    \
    X(void, VertexAttribPointer, (GLuint index, GLint size, GLenum type,                 \
                                  GLboolean normalized, GLsizei stride,                  \
                                  const void* pointer))                                  \
    X(void, DrawArrays, (GLenum mode, GLint first, GLsizei count))                       \
    X(void, DrawElements, (GLenum mode, GLsizei count, GLenum type, const void* indices)) \
    X(GLuint, CreateShader, (GLenum type))                                               \
    X(void, DeleteShader, (GLuint shader))                                               \
    X(void, ShaderSource, (GLuint shader, GLsizei count, const GLchar* const* strings,   \
                           const GLint* lengths))                                        \
    X(void, CompileShader, (GLuint shader))                                              \
    X(void, GetShaderiv, (GLuint shader, GLenum name, GLint * value))                    \
    X(void, GetShaderInfoLog, (GLuint shader, GLsizei size, GLsizei * length,            \
                               GLchar * log))                                            \
    X(GLuint, CreateProgram, (void))                                                     \
    X(void, DeleteProgram, (GLuint program))                                             \
    X(void, AttachShader, (GLuint program, GLuint shader))                               \
    X(void, BindAttribLocation, (GLuint program, GLuint index, const GLchar* name))      \
    X(void, LinkProgram, (GLuint program))                                               \
    X(void, GetProgramiv, (GLuint program, GLenum name, GLint * value))                  \
    X(void, GetProgramInfoLog, (GLuint program, GLsizei size, GLsizei * length,          \
                                GLchar * log))                                           \
    X(void, UseProgram, (GLuint program))                                                \
    X(GLint, GetUniformLocation, (GLuint program, const GLchar* name))                   \
    X(void, Uniform4fv, (GLint location, GLsizei count, const GLfloat* value))           \
    X(void, UniformMatrix4fv, (GLint location, GLsizei count, GLboolean transpose,       \
                               const GLfloat* value))                                    \
    X(void, GenQueries, (GLsizei n, GLuint * names))                                     \
    X(void, DeleteQueries, (GLsizei n, const GLuint* names))                             \
    X(void, BeginQuery, (GLenum target, GLuint name))                                    \
    X(void, EndQuery, (GLenum target))                                                   \
    X(void, GetQueryiv, (GLenum target, GLenum name, GLint * value))                     \
    X(void, GetQueryObjectuiv, (GLuint name, GLenum pname, GLuint * value))              \
    X(void, ActiveTexture, (GLenum unit))                                                \
    X(void, BindTexture, (GLenum target, GLuint name))                                   \
    X(void, GenTextures, (GLsizei n, GLuint * names))                                    \
    X(void, DeleteTextures, (GLsizei n, const GLuint* names))                            \
    X(void, TexImage2D, (GLenum target, GLint level, GLint internalFormat, GLsizei w,    \
                         GLsizei h, GLint border, GLenum format, GLenum type,            \
                         const void* pixels))                                            \
    X(void, TexSubImage2D, (GLenum target, GLint level, GLint x, GLint y, GLsizei w,     \
                            GLsizei h, GLenum format, GLenum type, const void* pixels))  \
    X(void, CopyTexSubImage2D, (GLenum target, GLint level, GLint x, GLint y, GLint srcX,  \
                                GLint srcY, GLsizei w, GLsizei h))                       \
    X(void, CompressedTexImage2D, (GLenum target, GLint level, GLenum internalFormat,    \
                                   GLsizei w, GLsizei h, GLint border, GLsizei size,     \
                                   const void* data))                                    \
    X(void, CompressedTexSubImage2D, (GLenum target, GLint level, GLint x, GLint y,      \
                                      GLsizei w, GLsizei h, GLenum format, GLsizei size, \
                                      const void* data))                                 \
    X(void, TexParameteri, (GLenum target, GLenum name, GLint value))                    \
    X(void, TexParameterf, (GLenum target, GLenum name, GLfloat value))                  \
    X(void, TexParameterfv, (GLenum target, GLenum name, const GLfloat* values))         \
    X(void, GetTexImage, (GLenum target, GLint level, GLenum format, GLenum type,        \
                          void* pixels))                                                 \
    X(void, GetCompressedTexImage, (GLenum target, GLint level, void* data))             \
    X(void, Uniform1i, (GLint location, GLint value))                                     \
    X(void, Uniform1f, (GLint location, GLfloat value))                                   \
    X(void, UniformMatrix3fv, (GLint location, GLsizei count, GLboolean transpose,        \
                               const GLfloat* value))                                     \
    X(void, Uniform1fv, (GLint location, GLsizei count, const GLfloat* value))            \
    X(void, Uniform2fv, (GLint location, GLsizei count, const GLfloat* value))            \
    X(void, Uniform3fv, (GLint location, GLsizei count, const GLfloat* value))            \
    X(GLint, GetAttribLocation, (GLuint program, const GLchar* name))

// One table for the process: entry points do not depend on the context on Linux.
struct GlFunctions {
#define RH_D3D9_GL_MEMBER(ret, name, params) ret(APIENTRY* name) params = nullptr;
    RH_D3D9_GL_FUNCTIONS(RH_D3D9_GL_MEMBER)
#undef RH_D3D9_GL_MEMBER
};

// The table; valid after LoadGlFunctions succeeded. Its creation and deletion entries count
// the objects in g_glObjects on their way to the driver.
extern GlFunctions gl;

// The GL objects the layer has made and not deleted, by kind (for tests: a reset or a device
// that leaks shows here).
struct GlObjectCounts {
    int64_t textures = 0;
    int64_t buffers = 0;
    int64_t queries = 0;
    int64_t framebuffers = 0;
    int64_t renderbuffers = 0;
    int64_t shaders = 0;
    int64_t programs = 0;
};
extern GlObjectCounts g_glObjects;

// Loads every entry point with a GL context current. False (and an error in the log) when
// one is missing; safe to call again.
bool LoadGlFunctions();

// Debug builds: reports a pending GL error with the place it was found (once per place).
// Release builds: nothing.
void CheckGlError(const char* where);

}  // namespace rh::d3d9
