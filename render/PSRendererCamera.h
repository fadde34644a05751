#pragma once
// The scene's geometry shared by the renderers: the thin box that carries the
// picture on its front face, the perspective camera in front of it, the user's
// zoom, move and tilt, and the mapping of window points back onto the picture.
//
// At the default parameters the front face fills the window like a flat image,
// letterboxed to the server's aspect ratio. Window coordinates are client
// coordinates with y pointing down; the GL conversion is done here.
//
// Any thread: m_Lock guards every field; MatricesGet hands out a copy.
#include <glm/glm.hpp>

#include <mutex>

// Half extents of the box; the picture is the face z = +PS_RENDERER_BOX_Z.
constexpr float PS_RENDERER_BOX_X = 0.5f;
constexpr float PS_RENDERER_BOX_Y = 0.5f;
constexpr float PS_RENDERER_BOX_Z = 0.0125f;
// Distance from the camera to the front face.
constexpr float PS_RENDERER_CAMERA_DISTANCE = 1.5f;

class PSRendererCamera
{
public:
    // Model, view and projection for column vectors (GL convention): a point
    // is Projection * View * Model * p. The projection maps depth to [0, 1].
    struct Matrices
    {
        glm::mat4 Model;
        glm::mat4 View;
        glm::mat4 Projection;
        bool Oblique; // pitched or yawed: the picture is seen at a slant
    };

    // owner names the renderer class in log lines ("PSRendererGL").
    explicit PSRendererCamera(const char* owner);

    // Returns false when the size is unchanged.
    bool WindowSizeSet(float width, float height);
    void WindowSizeGet(float* width, float* height);
    void ResolutionAspectSet(float aspect);

    void ParameterScaleAdjust(float delta);
    void ParameterTranslateAdjust(float dx, float dy);
    void ParameterRotateAdjust(float pitch, float yaw, float roll);
    void ParametersReset();

    Matrices MatricesGet();
    void PictureCenterGet(float* x, float* y);
    bool ScreenClientToTarget(float x, float y, float result[2], float size[2]);

private:
    void PrivateMatricesCompute(); // with m_Lock held

    const char* m_Owner;
    std::mutex m_Lock;
    float m_Scale = 1.0f;
    float m_TranslateX = 0.0f;
    float m_TranslateY = 0.0f;
    float m_Pitch = 0.0f; // radians
    float m_Yaw = 0.0f;
    float m_Roll = 0.0f;
    float m_WindowWidth = 0.0f;
    float m_WindowHeight = 0.0f;
    float m_WindowAspect = 1.0f;
    float m_ResolutionAspect = 1.0f;
    Matrices m_Matrices{};
};
