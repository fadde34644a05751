#include "render/PSRendererCamera.h"

#include "core/SALog.h"

#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>

namespace
{
constexpr float CAMERA_NEAR = 0.01f;
constexpr float CAMERA_FAR = 100.0f;
constexpr float SCALE_MIN = 0.05f;      // a zoom that would go to or below it is refused
constexpr float TRANSLATE_LIMIT = 1.0f; // translation stays strictly inside (-1, 1)
} // namespace

PSRendererCamera::PSRendererCamera(const char* owner) : m_Owner(owner)
{
    PrivateMatricesCompute();
}

bool PSRendererCamera::WindowSizeSet(float width, float height)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (width == m_WindowWidth && height == m_WindowHeight)
        return false;
    m_WindowWidth = width;
    m_WindowHeight = height;
    // A minimised window reports 0 x 0: keep the last usable aspect.
    if (width > 0.0f && height > 0.0f)
        m_WindowAspect = width / height;
    PrivateMatricesCompute();
    return true;
}

void PSRendererCamera::WindowSizeGet(float* width, float* height)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    *width = m_WindowWidth;
    *height = m_WindowHeight;
}

void PSRendererCamera::ResolutionAspectSet(float aspect)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_ResolutionAspect = aspect;
    PrivateMatricesCompute();
}

void PSRendererCamera::ParameterScaleAdjust(float delta)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    float scale = m_Scale + delta;
    if (scale > SCALE_MIN)
        m_Scale = scale;
    SALog(SA_LOG_RENDER, "%s::ParameterScaleAdjust, New Scale: %.3f \n", m_Owner, m_Scale);
    PrivateMatricesCompute();
}

void PSRendererCamera::ParameterTranslateAdjust(float dx, float dy)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    float x = m_TranslateX + dx;
    float y = m_TranslateY + dy;
    if (x > -TRANSLATE_LIMIT && x < TRANSLATE_LIMIT)
        m_TranslateX = x;
    if (y > -TRANSLATE_LIMIT && y < TRANSLATE_LIMIT)
        m_TranslateY = y;
    PrivateMatricesCompute();
}

void PSRendererCamera::ParameterRotateAdjust(float pitch, float yaw, float roll)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    // Dragging keeps its direction on screen when the picture is upside down.
    m_Pitch += pitch;
    if (std::cos(m_Pitch) > 0.0f)
        m_Yaw -= yaw;
    else
        m_Yaw += yaw;
    if (std::cos(m_Yaw) * std::cos(m_Pitch) > 0.0f)
        m_Roll += roll;
    else
        m_Roll -= roll;
    PrivateMatricesCompute();
}

void PSRendererCamera::ParametersReset()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Scale = 1.0f;
    m_TranslateX = 0.0f;
    m_TranslateY = 0.0f;
    m_Pitch = 0.0f;
    m_Yaw = 0.0f;
    m_Roll = 0.0f;
    SALog(SA_LOG_RENDER, "%s::ParametersReset\n", m_Owner);
    PrivateMatricesCompute();
}

PSRendererCamera::Matrices PSRendererCamera::MatricesGet()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Matrices;
}

void PSRendererCamera::PrivateMatricesCompute()
{
    // Half the vertical field of view is chosen so that the box's height of 1
    // exactly fills the view at the camera distance.
    const float theta = std::atan(PS_RENDERER_BOX_Y / PS_RENDERER_CAMERA_DISTANCE);
    const float t = std::cos(theta) / std::sin(theta);
    glm::mat4 projection(0.0f); // [column][row]
    projection[0][0] = t / m_WindowAspect;
    projection[1][1] = t;
    projection[2][2] = CAMERA_FAR / (CAMERA_NEAR - CAMERA_FAR);
    projection[2][3] = -1.0f;
    projection[3][2] = CAMERA_NEAR * CAMERA_FAR / (CAMERA_NEAR - CAMERA_FAR);
    m_Matrices.Projection = projection;

    m_Matrices.View = glm::lookAtRH(glm::vec3(0.0f, 0.0f, PS_RENDERER_BOX_Z + PS_RENDERER_CAMERA_DISTANCE),
                                    glm::vec3(0.0f), glm::vec3(0.0f, 1.0f, 0.0f));

    // Scale first (to the server's aspect, shrunk when the window is narrower
    // than the server screen), then roll, yaw, pitch, then move.
    const float s = m_Scale * std::min(1.0f, m_WindowAspect / m_ResolutionAspect);
    glm::mat4 model(1.0f);
    model = glm::translate(model, glm::vec3(m_TranslateX, m_TranslateY, 0.0f));
    model = glm::rotate(model, m_Pitch, glm::vec3(1.0f, 0.0f, 0.0f));
    model = glm::rotate(model, m_Yaw, glm::vec3(0.0f, 1.0f, 0.0f));
    model = glm::rotate(model, m_Roll, glm::vec3(0.0f, 0.0f, 1.0f));
    model = glm::scale(model, glm::vec3(s * m_ResolutionAspect, s, 1.0f));
    m_Matrices.Model = model;
    m_Matrices.Oblique = std::fabs(std::cos(m_Pitch) * std::cos(m_Yaw)) < 0.9999f;
}

void PSRendererCamera::PictureCenterGet(float* x, float* y)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    const glm::vec4 viewport(0.0f, 0.0f, m_WindowWidth, m_WindowHeight);
    glm::vec3 window = glm::projectZO(glm::vec3(0.0f, 0.0f, PS_RENDERER_BOX_Z),
                                      m_Matrices.View * m_Matrices.Model, m_Matrices.Projection, viewport);
    *x = window.x;
    *y = m_WindowHeight - window.y;
}

bool PSRendererCamera::ScreenClientToTarget(float x, float y, float result[2], float size[2])
{
    std::lock_guard<std::mutex> guard(m_Lock);
    // The size the caller scales the result by. Only the ratio u : v reaches
    // the server, so this keeps the long-standing formula (it pairs the window
    // width with the picture height when the window is the wider one).
    if (m_WindowAspect > m_ResolutionAspect)
    {
        size[1] = m_WindowWidth * m_Scale;
        size[0] = size[1] * m_ResolutionAspect;
    }
    else
    {
        size[0] = m_WindowHeight * m_Scale;
        size[1] = size[0] / m_ResolutionAspect;
    }
    SALog(SA_LOG_RENDER, "%s::ScreenClientToTarget Converting: %.3f, %.3f\n Window: %.3f, %.3f\n", m_Owner, x,
          y, m_WindowWidth, m_WindowHeight);

    if (m_WindowWidth <= 0.0f || m_WindowHeight <= 0.0f)
    {
        SALog(SA_LOG_RENDER, "%s::ScreenClientToTarget Not Found Result: %.3f, %.3f\n", m_Owner, 0.0, 0.0);
        return false;
    }
    // Cast a ray from the near to the far plane through the point, in the
    // box's own coordinates.
    const glm::vec4 viewport(0.0f, 0.0f, m_WindowWidth, m_WindowHeight);
    const glm::mat4 modelView = m_Matrices.View * m_Matrices.Model;
    const float windowY = m_WindowHeight - y;
    const glm::vec3 nearPoint =
        glm::unProjectZO(glm::vec3(x, windowY, 0.0f), modelView, m_Matrices.Projection, viewport);
    const glm::vec3 farPoint =
        glm::unProjectZO(glm::vec3(x, windowY, 1.0f), modelView, m_Matrices.Projection, viewport);
    const glm::vec3 direction = glm::normalize(farPoint - nearPoint);

    // Ray against the front face as a parallelogram from its top-left corner,
    // u to the right and v downwards.
    const glm::vec3 corner(-PS_RENDERER_BOX_X, PS_RENDERER_BOX_Y, PS_RENDERER_BOX_Z);
    const glm::vec3 edge1(1.0f, 0.0f, 0.0f);
    const glm::vec3 edge2(0.0f, -1.0f, 0.0f);
    const glm::vec3 p = glm::cross(direction, edge2);
    const float det = glm::dot(edge1, p);
    float u = 0.0f, v = 0.0f;
    bool found = false;
    if (std::fabs(det) >= 1e-6f && std::isfinite(det))
    {
        const glm::vec3 s = nearPoint - corner;
        u = glm::dot(s, p) / det;
        const glm::vec3 q = glm::cross(s, edge1);
        v = glm::dot(direction, q) / det;
        found = u >= 0.0f && u <= 1.0f && v >= 0.0f && v <= 1.0f;
    }
    if (!found)
    {
        SALog(SA_LOG_RENDER, "%s::ScreenClientToTarget Not Found Result: %.3f, %.3f\n", m_Owner, u, v);
        return false;
    }
    SALog(SA_LOG_RENDER, "%s::ScreenClientToTarget Found Result: %.3f, %.3f\n", m_Owner, u, v);
    result[0] = u * m_WindowWidth;
    result[1] = v * m_WindowHeight;
    return true;
}
