#include "formats/3mf/model3mf.h"
#include "formats/3mf/zipPackage.h"
#include "support.h"
#include "viewer/readers/findObj.h"
#include "viewer/readers/formatTable.h"
#include "viewer/readers/read3MFObj.h"
#include "viewer/shell/main.h"
#include "viewer/shell/shell.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

const char *const kCore = "http://schemas.microsoft.com/3dmanufacturing/core/2015/02";
const char *const kMaterial = "http://schemas.microsoft.com/3dmanufacturing/material/2015/02";

// A model part around `resources` and `build`, in the core and material namespaces.
std::string Model(const std::string &resources, const std::string &build) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model xmlns=\"") + kCore +
         "\" xmlns:m=\"" + kMaterial + "\">\n<resources>" + resources + "</resources>\n<build>" +
         build + "</build>\n</model>\n";
}

// A tetrahedron as object `id`; `attrs` go on the object, `triangles` replace its own.
std::string Tetra(int id, const std::string &attrs = "", const std::string &triangles = "") {
  return "<object id=\"" + std::to_string(id) + "\" type=\"model\" " + attrs +
         "><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/>"
         "<vertex x=\"0\" y=\"1\" z=\"0\"/><vertex x=\"0\" y=\"0\" "
         "z=\"1\"/></vertices><triangles>" +
         (triangles.empty() ? "<triangle v1=\"0\" v2=\"2\" v3=\"1\"/><triangle v1=\"0\" v2=\"1\" "
                              "v3=\"3\"/><triangle v1=\"0\" v2=\"3\" v3=\"2\"/><triangle "
                              "v1=\"1\" v2=\"2\" v3=\"3\"/>"
                            : triangles) +
         "</triangles></mesh></object>";
}

// The model part read as the root of a package of its own, its build placed.
Part Place(const std::string &xml) {
  M3Package package;
  package.models.emplace_back();
  package.models[0].part = "3D/3dmodel.model";
  package.modelByPart.emplace("3d/3dmodel.model", 0);
  Read3MFModel(xml.data(), xml.size(), "test.3mf", true, package.models[0]);
  Part part;
  FormatObj3MF(package, part, "test.3mf");
  return part;
}

Part ReadPackage(const std::string &path) {
  ResetSearchDirs();
  objName = path;
  M3Package package;
  ReadObj3MF(package);
  Part part;
  FormatObj3MF(package, part, path);
  return part;
}

bool Same(const ColorRGB &c, float r, float g, float b) {
  return c.r == r && c.g == g && c.b == b;
}

} // namespace

TEST(ThreeMF, RealPackagesLoadWithTheirCountsAndColours) {
  REQUIRE_REALWORLD();
  enum Colours { kNone, kFacets, kVertices };
  struct Expect {
    const char *file;
    uint32_t vertices, triangles;
    Colours colours;
  } cases[] = {
      {"assimp_box.3mf", 8, 12, kNone},
      {"Atom 3 bed.3mf", 14359, 34358, kFacets},
      {"beam_pyramid.3mf", 123, 0, kNone},
      {"blv_mgn_cube_300_platform.3mf", 115224, 38408, kNone},
      {"box.3mf", 8, 12, kNone},
      {"box_prod.3mf", 8, 12, kNone},
      {"box_sliced.3mf", 8, 12, kNone},
      {"cube_gears.3mf", 12864, 25692, kNone},
      {"cube_gears_prod_req.3mf", 12864, 25692, kNone},
      {"dodeca_chain_loop_color.3mf", 3040, 7680, kFacets},
      {"featuretype.3MF", 1092, 2208, kFacets},
      {"flsun_qq_s.3mf", 10023, 19927, kNone},
      {"heartgears.3mf", 15186, 30636, kNone},
      {"ideagen3D_sapphire_plus.3mf", 2907, 4540, kNone},
      {"multiple_cylinders.3mf", 276, 528, kFacets},
      {"multiprop-opaque.3mf", 8, 12, kFacets},
      {"P_XPM_0331_01.3mf", 5, 6, kFacets},
      {"pyramid_vertexcolor.3mf", 4, 4, kVertices},
      {"pyramids.3mf", 1665, 3276, kFacets},
      {"seam_test_object.3mf", 112569, 225154, kNone},
      {"sphere_logo.3mf", 1518, 3032, kFacets},
      {"tevo_tarantula_pro_platform.3mf", 184, 372, kFacets},
  };
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.file);
    Part p = ReadPackage(RealWorld(std::string("3mf/") + c.file));
    EXPECT_EQ(p.vertex_count, c.vertices);
    EXPECT_EQ(p.vertices.size(), c.vertices);
    EXPECT_EQ(p.facet_count, c.triangles);
    EXPECT_EQ(p.polygon_colors.size(), c.colours == kFacets ? c.triangles : 0);
    EXPECT_EQ(p.vertex_colors.size(), c.colours == kVertices ? c.vertices : 0);
  }

  // The whole pipeline, and the one warning for what is read past.
  RunResult r =
      RunMirandel({"--info", "-in", "beam_pyramid.3mf"}, {{"OBJ_PATH", true, RealWorld("3mf")}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("123 vertices\n0 polygons\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "3MFReadObj: " + RealWorld("3mf") +
                       "/beam_pyramid.3mf: beam lattices are "
                       "not drawn\n");
}

TEST(ThreeMF, BrokenRealPackagesAreRefused) {
  REQUIRE_REALWORLD();
  struct Expect {
    const char *file, *message;
  } cases[] = {
      {"3mf-export-expected.3mf", "is not a 3MF package: it is no zip archive"},
      {"MUSTFAIL_Chapter2.1.1a_PartsRelationships_NonExist3DModelPart.3mf",
       "the package's relationships name no 3D model part"},
      {"MUSTFAIL_Chapter2.3.2a_NonUTF_Encoding.3mf", "it is no UTF-8 XML at line 1"},
      {"MUSTFAIL_Chapter3.4.3.1a_NotMatchingObjectIdInBuildItem.3mf",
       "build item 0 names object 14, which the part 3D/3dmodel.model does not have"},
      {"MUSTFAIL_Chapter3.4b_MissingBuildElement.3mf", "the model has no build"},
      {"MUSTFAIL_Chapter4a_InvalidObjectType.3mf",
       "type=\"invalidtype\" of <object> at line 74 names no object type of 3MF"},
      {"multiprop-metallic.3mf", "the prefix \"ms\" is not bound to a namespace at line 62"},
  };
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.file);
    int status = 0;
    std::string message = FatalMessage(
        [&] { ReadPackage(RealWorld(std::string("3mf/invalid/") + c.file)); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(message.rfind("3MFReadObj: ", 0), 0u) << message;
  }
}

TEST(ThreeMF, ZipContainersAreReadOrRefusedWhenTheyLie) {
  const std::string dir = SourcePath("tests/data/3mf") + "/";
  struct Expect {
    const char *file;
    uint64_t budget;
    uint32_t vertices;   // when it loads
    const char *message; // when it does not
  } cases[] = {
      {"tetra_zip64.3mf", 0, 4, nullptr},
      {"tetra_no_rels.3mf", 0, 4, nullptr},
      {"tetra_renamed.3mf", 0, 4, nullptr},
      {"production.3mf", 0, 8, nullptr},
      {"bomb.3mf", 0, 4, nullptr},
      {"bomb.3mf", 1 << 20, 0, "inflates to 16777743 bytes, more than the"},
      {"missing_part.3mf", 0, 0, "the package has no part \"3D/b.model\""},
      {"lying_size.3mf", 0, 0, "holds more bytes than the 100 it claims"},
      {"impossible_size.3mf", 0, 0, "claims 2147483647 bytes from 255 stored ones"},
      {"truncated.3mf", 0, 0, "the zip archive is damaged"},
  };
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.file);
    SetInflateBudget(c.budget);
    Part p;
    int status = 0;
    std::string message = FatalMessage([&] { p = ReadPackage(dir + c.file); }, &status);
    SetInflateBudget(0);
    if (c.message) {
      EXPECT_EQ(status, 1);
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
    } else {
      EXPECT_EQ(message, "");
      EXPECT_EQ(p.vertex_count, c.vertices);
      EXPECT_EQ(p.facet_count, c.vertices);
    }
  }
  // The second item of the production package is moved by its transform.
  Part p = ReadPackage(dir + "production.3mf");
  EXPECT_EQ(p.vertices[5].x, 6.0f);

  RunResult r = RunMirandel({"--info", "-in", "tetra_zip64.3mf"}, {{"OBJ_PATH", true, dir}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("4 vertices\n4 polygons\n"), std::string::npos) << r.out;
  r = RunMirandel({"--info", "-in", "lying_size.3mf"}, {{"OBJ_PATH", true, dir}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("holds more bytes than the 100 it claims"), std::string::npos) << r.err;
}

TEST(ThreeMF, ModelFaultsEndWithAMessage) {
  const std::string tetra = Tetra(1);
  const std::string item = "<item objectid=\"1\"/>";
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<a>";
  struct Expect {
    const char *what;
    std::string xml;
    const char *message;
  } cases[] = {
      {"end tag", Model(tetra, item + "</item>"), "the end tag \"item\" closes \"build\""},
      {"unclosed", Model(tetra, item).substr(0, Model(tetra, item).size() - 9),
       "the document ends inside \"model\""},
      {"unbound", Model(tetra, "<q:item objectid=\"1\"/>"), "the prefix \"q\" is not bound"},
      {"doctype", "<!DOCTYPE model [<!ENTITY a \"aaaa\">]>" + Model(tetra, item),
       "a document type declaration"},
      {"twice", Model(tetra, "<item objectid=\"1\" objectid=\"1\"/>"), "is given twice"},
      {"lt in value", Model(tetra, "<item objectid=\"<\"/>"), "'<' inside an attribute value"},
      {"reference", Model(tetra, "<item objectid=\"&bogus;\"/>"), "an unknown or broken reference"},
      {"unquoted", Model(tetra, "<item objectid=1/>"), "an attribute value must be quoted"},
      {"second root", Model(tetra, item) + "<model/>", "a second root element"},
      {"text after", Model(tetra, item) + "junk", "text outside the root element"},
      {"utf-16", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + Model(tetra, item),
       "the encoding \"UTF-16\""},
      {"deep", Model(tetra, item).replace(Model(tetra, item).find("<build>"), 0, deep),
       "elements nested too deeply"},
      {"not a model", "<modell xmlns=\"" + std::string(kCore) + "\"/>", "is no 3MF model"},
      {"no build",
       "<model xmlns=\"" + std::string(kCore) + "\"><resources>" + tetra + "</resources></model>",
       "the model has no build"},
      {"vertex index", Model(Tetra(1, "", "<triangle v1=\"0\" v2=\"1\" v3=\"4\"/>"), item),
       "triangle 0 of object 1 uses vertex 4, the object has 4"},
      {"missing v3", Model(Tetra(1, "", "<triangle v1=\"0\" v2=\"1\"/>"), item), "has no \"v3\""},
      {"number", Model(Tetra(1).replace(Tetra(1).find("x=\"1\""), 5, "x=\"1.0.0\""), item),
       "x=\"1.0.0\" of <vertex> at line 3 is not a finite number"},
      {"nan", Model(Tetra(1).replace(Tetra(1).find("x=\"1\""), 5, "x=\"nan\""), item),
       "is not a finite number"},
      {"index sign", Model(tetra, "<item objectid=\"-1\"/>"), "is not a non-negative integer"},
      {"transform", Model(tetra, "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 0 0\"/>"),
       "is not 12 finite numbers"},
      {"same id", Model(tetra + Tetra(1), item), "repeats the resource id 1"},
      {"missing object", Model(tetra, "<item objectid=\"2\"/>"),
       "build item 0 names object 2, which the part 3D/3dmodel.model does not have"},
      {"self cycle",
       Model(tetra + "<object id=\"2\"><components><component objectid=\"2\"/></components>"
                     "</object>",
             "<item objectid=\"2\"/>"),
       "object 2 of part 3D/3dmodel.model contains itself"},
      {"long cycle",
       Model(tetra + "<object id=\"2\"><components><component objectid=\"3\"/></components>"
                     "</object><object id=\"3\"><components><component objectid=\"1\"/>"
                     "<component objectid=\"2\"/></components></object>",
             "<item objectid=\"3\"/>"),
       "contains itself through its components"},
      {"colour",
       Model("<m:colorgroup id=\"5\"><m:color color=\"#12345\"/></m:colorgroup>" + tetra, item),
       "is not a colour #RRGGBB or #RRGGBBAA"},
      {"colour index",
       Model("<basematerials id=\"5\"><base displaycolor=\"#FF0000\"/></basematerials>" +
                 Tetra(1, "pid=\"5\" pindex=\"1\""),
             item),
       "triangle 0 of object 1 uses entry 1 of property group 5, which has 1"},
      {"no group", Model(Tetra(1, "pid=\"7\" pindex=\"0\""), item),
       "names property group 7, which the part 3D/3dmodel.model does not have"},
  };
  for (const Expect &c : cases) {
    SCOPED_TRACE(c.what);
    int status = 0;
    std::string message = FatalMessage([&] { Place(c.xml); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }

  // Instancing that multiplies beyond memory is refused before anything is placed.
  std::string chain = tetra;
  for (int id = 2; id <= 40; ++id) {
    chain += "<object id=\"" + std::to_string(id) + "\"><components>";
    for (int k = 0; k < 4; ++k) chain += "<component objectid=\"" + std::to_string(id - 1) + "\"/>";
    chain += "</components></object>";
  }
  std::string message = FatalMessage([&] { Place(Model(chain, "<item objectid=\"40\"/>")); });
  EXPECT_NE(message.find("more than memory allows"), std::string::npos) << message;
  // A long chain of components is refused before placing it recurses that deep.
  chain = tetra;
  for (int id = 2; id <= 100; ++id)
    chain += "<object id=\"" + std::to_string(id) + "\"><components><component objectid=\"" +
             std::to_string(id - 1) + "\"/></components></object>";
  message = FatalMessage([&] { Place(Model(chain, "<item objectid=\"100\"/>")); });
  EXPECT_NE(message.find("components nest deeper than 64 levels"), std::string::npos) << message;
  // So is a root that declares namespaces by the thousand.
  std::string many;
  for (int i = 0; i < 1000; ++i)
    many += " xmlns:n" + std::to_string(i) + "=\"urn:" + std::to_string(i) + "\"";
  std::string xml = Model(tetra, item);
  message = FatalMessage([&] { Place(xml.insert(xml.find("<model") + 6, many)); });
  EXPECT_NE(message.find("namespace declarations in force"), std::string::npos) << message;
}

TEST(ThreeMF, ItemsAndComponentsArePlacedWithTheirTransforms) {
  // Object 2 places the tetrahedron moved by 2 along x, and mirrored in x; the item lifts all by 5.
  const std::string xml =
      Model(Tetra(1) + "<object id=\"2\"><components><component objectid=\"1\" "
                       "transform=\"1 0 0 0 1 0 0 0 1 2 0 0\"/><component objectid=\"1\" "
                       "transform=\"-1 0 0 0 1 0 0 0 1 0 0 0\"/></components></object>",
            "<item objectid=\"2\" transform=\"1 0 0 0 1 0 0 0 1 0 0 5\"/><item objectid=\"1\" "
            "transform=\"0 1 0 -1 0 0 0 0 1 0 0 0\"/>");
  Part p = Place(xml);
  ASSERT_EQ(p.vertex_count, 12u);
  ASSERT_EQ(p.facet_count, 12u);
  EXPECT_EQ(p.facet_offset, 0);
  auto at = [&](uint32_t v, float x, float y, float z) {
    return p.vertices[v].x == x && p.vertices[v].y == y && p.vertices[v].z == z;
  };
  EXPECT_TRUE(at(1, 3, 0, 5));  // (1,0,0) moved by the component, then by the item
  EXPECT_TRUE(at(5, -1, 0, 5)); // mirrored, then lifted
  EXPECT_TRUE(at(9, 0, 1, 0));  // (1,0,0) turned a quarter about z
  EXPECT_TRUE(at(10, -1, 0, 0));
  // Indices follow each placed copy; the mirrored copy has its corners turned around.
  const uint32_t *first = p.facetVertices(0), *mirrored = p.facetVertices(4);
  EXPECT_EQ(std::vector<uint32_t>(first, first + 3), (std::vector<uint32_t>{0, 2, 1}));
  EXPECT_EQ(std::vector<uint32_t>(mirrored, mirrored + 3), (std::vector<uint32_t>{4, 5, 6}));
  EXPECT_TRUE(p.polygon_colors.empty());
  EXPECT_TRUE(p.vertex_colors.empty());
}

TEST(ThreeMF, ColoursGoToFacetsOrWhereCornersDifferToVertices) {
  const std::string groups =
      "<basematerials id=\"5\"><base name=\"red\" displaycolor=\"#FF0000\"/>"
      "<base name=\"blue\" displaycolor=\"#0000FF80\"/></basematerials>"
      "<m:colorgroup id=\"6\"><m:color color=\"#00FF00\"/><m:color color=\"#FFFFFF\"/>"
      "</m:colorgroup>";
  const std::string item = "<item objectid=\"1\"/>";
  // The object's default property, a triangle's own group, p1 alone, and one without colour.
  const std::string triangles = "<triangle v1=\"0\" v2=\"2\" v3=\"1\"/>"
                                "<triangle v1=\"0\" v2=\"1\" v3=\"3\" pid=\"6\" p1=\"0\"/>"
                                "<triangle v1=\"0\" v2=\"3\" v3=\"2\" p1=\"1\"/>";
  Part facets = Place(Model(groups + Tetra(1, "pid=\"5\" pindex=\"0\"", triangles), item));
  ASSERT_EQ(facets.polygon_colors.size(), 3u);
  EXPECT_TRUE(facets.vertex_colors.empty());
  EXPECT_TRUE(Same(facets.polygon_colors[0], 1, 0, 0));
  EXPECT_TRUE(Same(facets.polygon_colors[1], 0, 1, 0));
  EXPECT_TRUE(Same(facets.polygon_colors[2], 0, 0, 1)); // the alpha is dropped

  // Only some triangles coloured: the others get the neutral grey.
  Part some = Place(Model(groups + Tetra(1, "",
                                         "<triangle v1=\"0\" v2=\"2\" v3=\"1\"/><triangle v1=\"0\" "
                                         "v2=\"1\" v3=\"3\" pid=\"6\" p1=\"1\"/>"),
                          item));
  ASSERT_EQ(some.polygon_colors.size(), 2u);
  EXPECT_TRUE(Same(some.polygon_colors[0], 0.8f, 0.8f, 0.8f));
  EXPECT_TRUE(Same(some.polygon_colors[1], 1, 1, 1));

  // Corners of one triangle differ: colours go to the vertices (p2 and p3 default to p1). Vertex 0
  // is green in the first triangle and white in the others, so it is repeated once for white.
  Part corners = Place(Model(
      groups + Tetra(1, "",
                     "<triangle v1=\"0\" v2=\"2\" v3=\"1\" pid=\"6\" p1=\"0\" p2=\"1\" p3=\"1\"/>"
                     "<triangle v1=\"0\" v2=\"1\" v3=\"3\" pid=\"6\" p1=\"1\"/>"
                     "<triangle v1=\"3\" v2=\"0\" v3=\"2\" pid=\"6\" p1=\"1\"/>"),
      item));
  EXPECT_TRUE(corners.polygon_colors.empty());
  ASSERT_EQ(corners.vertex_count, 5u);
  ASSERT_EQ(corners.vertex_colors.size(), 5u);
  EXPECT_TRUE(Same(corners.vertex_colors[0], 0, 1, 0));
  EXPECT_TRUE(Same(corners.vertex_colors[2], 1, 1, 1));
  EXPECT_TRUE(Same(corners.vertex_colors[4], 1, 1, 1));
  EXPECT_EQ(corners.facetVertices(1)[0], 4u); // the white copy of vertex 0
  EXPECT_EQ(corners.facetVertices(2)[1], 4u); // reused, not copied again
  EXPECT_EQ(corners.vertices[4].x, corners.vertices[0].x);
}

TEST(ThreeMF, OfferedWhereverTheOtherFormatsAre) {
  EXPECT_EQ(TypeFromName("bed plate.3mf"), kType3MF);
  const FormatRow *row = FormatOfType(kType3MF);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->filter.name, "3MF Files (*.3mf)");
  EXPECT_STREQ(row->filter.pattern, "*.3mf*");
  RunResult r = RunMirandel({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Objects: .geom"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" .3mf"), std::string::npos) << r.out;
}

TEST(ThreeMF, QuickAndFullReadingOfMeshesAgree) {
  // A mesh of `vertices` and `triangles` written unprefixed in the default namespace, which the
  // quick path reads, or with every core element prefixed "c:", which only the full path reads.
  auto mesh = [](const std::string &vertices, const std::string &triangles, bool prefixed) {
    std::string xml =
        "<model xmlns" + std::string(prefixed ? ":c" : "") + "=\"" + kCore + "\" xmlns:m=\"" +
        kMaterial + "\">\n<resources><object id=\"1\"><mesh>\n" + "<vertices>\n" + vertices +
        "\n</vertices>\n<triangles>\n" + triangles +
        "\n</triangles>\n</mesh></object></resources>\n<build><item objectid=\"1\"/>" +
        "</build></model>\n";
    if (!prefixed) return xml;
    std::string out;
    for (std::size_t i = 0; i < xml.size(); ++i) {
      out += xml[i];
      if (xml[i] != '<') continue;
      if (i + 1 < xml.size() && xml[i + 1] == '/') out += xml[++i];
      if (i + 1 < xml.size() && std::isalpha(static_cast<unsigned char>(xml[i + 1]))) out += "c:";
    }
    return out;
  };
  struct Read {
    M3Model model;
    std::string message;
  };
  auto read = [](const std::string &xml) {
    Read r;
    r.message = FatalMessage([&] { Read3MFModel(xml.data(), xml.size(), "t", true, r.model); });
    return r;
  };
  const std::string v3 = "<vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/>"
                         "<vertex x=\"0\" y=\"1\" z=\"0\"/>";
  const std::string t1 = "<triangle v1=\"0\" v2=\"1\" v3=\"2\"/>";
  struct Case {
    const char *what;
    std::string vertices, triangles;
    std::size_t nv, nt;  // what loads
    const char *message; // or the fault named
  } cases[] = {
      {"plain", v3, t1, 3, 1, nullptr},
      {"order and quotes", "<vertex z='3' x=\"1\"\n\ty = '2' />" + v3, t1, 4, 1, nullptr},
      {"references", "<vertex x=\"&#49;\" y=\"&#x32;\" z=\"3\"/>" + v3,
       "<triangle v1=\"&#48;\" v2=\"1\" v3=\"2\"/>", 4, 1, nullptr},
      {"blanks in values", "<vertex x=\" 1 \" y=\"2\" z=\"3\"/>" + v3,
       "<triangle v1=\" 0\" v2=\"1 \" v3=\"2\"/>", 4, 1, nullptr},
      {"other attributes", "<vertex x=\"1\" y=\"2\" z=\"3\" id=\"7\" m:q=\"1\" xmlnsq=\"\"/>" + v3,
       "<triangle v1=\"0\" v2=\"1\" v3=\"2\" pid=\"4\" p1=\"5\" p3=\"6\" p=\"1\"/>", 4, 1, nullptr},
      {"content", "<vertex x=\"1\" y=\"2\" z=\"3\"></vertex>" + v3, t1 + "<triangle/>", 0, 0,
       "<triangle> at line 7 has no \"v1\""},
      {"between", "<!-- c --> text <?pi ?>" + v3 + "<vertexx/><vertices/>", t1, 3, 1, nullptr},
      {"twice", v3 + "<vertex x=\"1\" y=\"2\" z=\"3\" x=\"4\"/>", t1, 0, 0, "\"x\" is given twice"},
      {"index twice", v3, "<triangle v1=\"0\" v2=\"1\" v3=\"2\" v2=\"1\"/>", 0, 0,
       "\"v2\" is given twice"},
      {"no z", v3 + "<vertex x=\"1\" y=\"2\"/>", t1, 0, 0, "has no \"z\""},
      {"number", v3 + "<vertex x=\"1\" y=\"2e\" z=\"3\"/>", t1, 0, 0,
       "y=\"2e\" of <vertex> at line 4 is not a finite number"},
      {"no space", v3 + "<vertex x=\"1\"y=\"2\" z=\"3\"/>", t1, 0, 0,
       "attributes must be separated by white space at line 4"},
      {"slash", v3 + "<vertex x=\"1\" y=\"2\" z=\"3\"/ >", t1, 0, 0, "'/' not followed by '>'"},
      {"lt", v3 + "<vertex x=\"1<\" y=\"2\" z=\"3\"/>", t1, 0, 0, "'<' inside an attribute value"},
      {"reference", v3 + "<vertex x=\"&one;\" y=\"2\" z=\"3\"/>", t1, 0, 0,
       "an unknown or broken reference"},
      {"unclosed", v3 + "<vertex x=\"1\" y=\"2\" z=\"3\"", t1, 0, 0, "a name was expected"},
      {"index range", v3, "<triangle v1=\"0\" v2=\"4294967295\" v3=\"2\"/>", 0, 0,
       "v2=\"4294967295\" of <triangle> at line 7 is out of range"},
      {"index sign", v3, "<triangle v1=\"0\" v2=\"1\" v3=\"+2\"/>", 0, 0,
       "is not a non-negative integer"},
      {"index outside", v3, "<triangle v1=\"0\" v2=\"1\" v3=\"3\"/>", 0, 0,
       "triangle 0 of object 1 uses vertex 3, the object has 3"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Read quick = read(mesh(c.vertices, c.triangles, false));
    Read full = read(mesh(c.vertices, c.triangles, true));
    for (std::size_t at; (at = full.message.find("c:")) != std::string::npos;)
      full.message.erase(at, 2);
    EXPECT_EQ(quick.message, full.message);
    if (c.message) {
      EXPECT_NE(quick.message.find(c.message), std::string::npos) << quick.message;
      continue;
    }
    ASSERT_EQ(quick.message, "");
    const M3Object &q = quick.model.objects.at(0), &f = full.model.objects.at(0);
    ASSERT_EQ(q.vertices.size(), c.nv);
    ASSERT_EQ(f.vertices.size(), c.nv);
    ASSERT_EQ(q.triangles.size(), c.nt);
    ASSERT_EQ(f.triangles.size(), c.nt);
    for (std::size_t i = 0; i < c.nv; ++i)
      EXPECT_EQ(std::vector<float>({q.vertices[i].x, q.vertices[i].y, q.vertices[i].z}),
                std::vector<float>({f.vertices[i].x, f.vertices[i].y, f.vertices[i].z}));
    for (std::size_t i = 0; i < c.nt; ++i) {
      const M3Triangle &a = q.triangles[i], &b = f.triangles[i];
      EXPECT_EQ(std::vector<uint32_t>({a.v[0], a.v[1], a.v[2], a.pid, a.p[0], a.p[1], a.p[2]}),
                std::vector<uint32_t>({b.v[0], b.v[1], b.v[2], b.pid, b.p[0], b.p[1], b.p[2]}));
    }
    if (c.nv == 4) {
      EXPECT_EQ(q.vertices[0].x, 1.0f);
      EXPECT_EQ(q.vertices[0].y, 2.0f);
    }
  }

  // An element that declares another default namespace is no core vertex, and the list goes on
  // in core after it.
  Read other = read(mesh("<vertex xmlns=\"urn:x\" x=\"1\" y=\"1\" z=\"1\"/>" + v3 +
                             "<q xmlns=\"urn:x\"><vertex x=\"1\" y=\"1\" z=\"1\"/></q>" + v3,
                         t1, false));
  ASSERT_EQ(other.message, "");
  EXPECT_EQ(other.model.objects.at(0).vertices.size(), 6u);
}
