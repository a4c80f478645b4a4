// Parallax_T.fx: parallax-offset bump mapping lit per pixel by up to three directional and
// point lights. A template: the engine compiles it once per combination of light counts with
//   DIR<n>, POINT<n>  (empty)  light n is directional / a point light; numbers run on across
//                              kinds, directional lights first (DIR1 POINT2 POINT3)
//   NUMDIR, NUMPOINT           how many lights of each kind
//   TEXCOORDS, PS_MODEL        interpolator list and pixel-shader model; nothing here needs them
// and picks the technique by its DIR and POINT annotations.
//
// Written against this project's effect language (d3dx9effect.md beside the D3DX header):
// - vertex input is the 72-byte layout POSITION, NORMAL, TEXCOORD0..2, TANGENT, BINORMAL.
//   BINORMAL0 reads the attribute location BLENDINDICES uses too, so a skinned layout cannot
//   feed this shader;
// - the GL alpha test never applies to effect programs. The engine draws this material with the
//   alpha test off anyway (it reports no alpha), so nothing here discards;
// - the normal map stores the tangent-space normal as n * 0.5 + 0.5 in RGB and the height in
//   alpha; tangent = +u, binormal = +v, normal = out of the surface;
// - parameters are shared: one effect pool carries them for all ten permutations, and every
//   permutation declares them all, used or not, so that the first permutation has every handle.

#ifndef NUMDIR
#define NUMDIR 0
#endif
#ifndef NUMPOINT
#define NUMPOINT 0
#endif
#ifndef PS_MODEL
#define PS_MODEL ps_2_0
#endif

shared float4x4 WorldViewProj;
shared float4x4 WorldView;
// The eye in object space.
shared float4 EyePosition;
shared texture DiffuseMap;
shared texture NormalMap;
shared texture SpecularMap;
shared float SpecularPower = 16.0;
shared float OffsetBias = 0.01;
shared float4 Ambient;
shared bool FogEnable;
shared bool RangeFogEnable;
shared float FogEnd;
shared float FogDelta = 1.0;

// Directions point the way the light travels, in object space, normalised.
shared float4 Dir1Dir;
shared float4 Dir1Diff;
shared float4 Dir1Spec;
shared float4 Dir2Dir;
shared float4 Dir2Diff;
shared float4 Dir2Spec;
shared float4 Dir3Dir;
shared float4 Dir3Diff;
shared float4 Dir3Spec;
// Positions in object space; Att holds the factors of 1 / (a0 + a1 d + a2 d^2).
shared float4 Point1Pos;
shared float4 Point1Att;
shared float4 Point1Diff;
shared float4 Point1Spec;
shared float4 Point2Pos;
shared float4 Point2Att;
shared float4 Point2Diff;
shared float4 Point2Spec;
shared float4 Point3Pos;
shared float4 Point3Att;
shared float4 Point3Diff;
shared float4 Point3Spec;

sampler DiffuseSampler = sampler_state {
    Texture = <DiffuseMap>;
    MinFilter = Linear;
    MagFilter = Linear;
    MipFilter = Linear;
    AddressU = Wrap;
    AddressV = Wrap;
};

sampler NormalSampler = sampler_state {
    Texture = <NormalMap>;
    MinFilter = Linear;
    MagFilter = Linear;
    MipFilter = Linear;
    AddressU = Wrap;
    AddressV = Wrap;
};

// The vector to light n in tangent space: the direction towards a directional light, the
// unnormalised offset to a point light (its length is the distance for the attenuation).
#if defined(DIR1)
#define LIGHT1_VECTOR(p) (-Dir1Dir.xyz)
#elif defined(POINT1)
#define LIGHT1_VECTOR(p) (Point1Pos.xyz - (p))
#endif
#if defined(DIR2)
#define LIGHT2_VECTOR(p) (-Dir2Dir.xyz)
#elif defined(POINT2)
#define LIGHT2_VECTOR(p) (Point2Pos.xyz - (p))
#endif
#if defined(DIR3)
#define LIGHT3_VECTOR(p) (-Dir3Dir.xyz)
#elif defined(POINT3)
#define LIGHT3_VECTOR(p) (Point3Pos.xyz - (p))
#endif

glsl_vertex ParallaxVS {
    varying vec2 uv;
    varying vec3 eyeVector;
    varying vec3 light1;
    varying vec3 light2;
    varying vec3 light3;

    void main() {
        vec3 p = POSITION0.xyz;
        vec3 t = TANGENT0;
        vec3 b = BINORMAL0;
        vec3 n = NORMAL0;
        // Object space to tangent space: the rows are the basis vectors.
        mat3 toTangent = mat3(t.x, b.x, n.x, t.y, b.y, n.y, t.z, b.z, n.z);
        gl_Position = WorldViewProj * vec4(p, 1.0);
        uv = TEXCOORD0.xy;
        eyeVector = toTangent * (EyePosition.xyz - p);
        light1 = vec3(0.0);
        light2 = vec3(0.0);
        light3 = vec3(0.0);
#ifdef LIGHT1_VECTOR
        light1 = toTangent * LIGHT1_VECTOR(p);
#endif
#ifdef LIGHT2_VECTOR
        light2 = toTangent * LIGHT2_VECTOR(p);
#endif
#ifdef LIGHT3_VECTOR
        light3 = toTangent * LIGHT3_VECTOR(p);
#endif
        // Linear fog by view depth, or by distance with range fog, as the fixed function does.
        vec4 viewPosition = WorldView * vec4(p, 1.0);
        float d = RangeFogEnable ? length(viewPosition.xyz) : viewPosition.z;
        FOG = FogEnable ? clamp((FogEnd - d) / FogDelta, 0.0, 1.0) : 1.0;
    }
}

glsl_fragment ParallaxPS {
    varying vec2 uv;
    varying vec3 eyeVector;
    varying vec3 light1;
    varying vec3 light2;
    varying vec3 light3;

    // Adds one light's diffuse and specular terms; att is 1 for directional lights.
    void shade(vec3 toLight, float att, vec4 diff, vec4 shine, vec3 n, vec3 v, inout vec3 diffuse,
               inout vec3 specular) {
        vec3 l = normalize(toLight);
        vec3 h = normalize(l + v);
        diffuse += diff.rgb * max(dot(n, l), 0.0) * att;
        specular += shine.rgb * pow(max(dot(n, h), 0.0), SpecularPower) * att;
    }

    float attenuation(vec3 toLight, vec4 factors) {
        float d = length(toLight);
        return 1.0 / (factors.x + factors.y * d + factors.z * d * d);
    }

    void main() {
        vec3 v = normalize(eyeVector);
        // Parallax with offset limiting: no division by v.z, so grazing views shift by at
        // most the bias.
        float height = texture2D(NormalSampler, uv).a;
        vec2 shifted = uv + (height * 2.0 * OffsetBias - OffsetBias) * v.xy;
        vec3 n = normalize(texture2D(NormalSampler, shifted).rgb * 2.0 - 1.0);
        vec4 texel = texture2D(DiffuseSampler, shifted);

        vec3 diffuse = Ambient.rgb;
        vec3 specular = vec3(0.0);
#if defined(DIR1)
        shade(light1, 1.0, Dir1Diff, Dir1Spec, n, v, diffuse, specular);
#elif defined(POINT1)
        shade(light1, attenuation(light1, Point1Att), Point1Diff, Point1Spec, n, v, diffuse, specular);
#endif
#if defined(DIR2)
        shade(light2, 1.0, Dir2Diff, Dir2Spec, n, v, diffuse, specular);
#elif defined(POINT2)
        shade(light2, attenuation(light2, Point2Att), Point2Diff, Point2Spec, n, v, diffuse, specular);
#endif
#if defined(DIR3)
        shade(light3, 1.0, Dir3Diff, Dir3Spec, n, v, diffuse, specular);
#elif defined(POINT3)
        shade(light3, attenuation(light3, Point3Att), Point3Diff, Point3Spec, n, v, diffuse, specular);
#endif
        gl_FragColor = vec4(texel.rgb * diffuse + specular, texel.a);
    }
}

technique Parallax < int DIR = NUMDIR; int POINT = NUMPOINT; > {
    pass P0 {
        VertexShader = compile vs_1_1 ParallaxVS();
        PixelShader = compile PS_MODEL ParallaxPS();
    }
}
