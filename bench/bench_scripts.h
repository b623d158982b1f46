#ifndef QZ_BENCH_SCRIPTS_H
#define QZ_BENCH_SCRIPTS_H

// Synthetic benign PHP scripts for the scan benchmarks. Each generator
// returns a script of about `bytes` bytes (never less); none holds anything
// the default rules score as a threat, so a scan walks the whole text.

#include <string>

namespace bench {

// The kinds of script the scaling benchmark grows.
enum class Shape {
  Ordinary,       // application code: functions, a class, loops, arrays, templates
  LongStatement,  // one statement with no ";" until the end
  DeepNesting,    // one construct whose nesting depth grows with the size
  ManyVariables,  // every statement names two variables never seen before
  LongStrings,    // two string literals as long as the script
  ManyAppends,    // one string grown by ".=" statements
};

// A piece of ordinary application code; n makes its names distinct.
inline std::string ordinary_block(size_t n) {
  std::string k = std::to_string(n);
  return "/**\n * Lists the orders of one customer as an HTML table.\n */\n"
         "function render_orders_" +
         k +
         "(array $orders, $customer)\n{\n"
         "    $rows = array();\n"
         "    $total = 0;\n"
         "    foreach ($orders as $id => $order) {\n"
         "        if (empty($order['items']) || $order['state'] === 'void') {\n"
         "            continue;\n"
         "        }\n"
         "        $sum = array_sum(array_map(function ($item) {\n"
         "            return $item['price'] * $item['qty'];\n"
         "        }, $order['items']));\n"
         "        $total += $sum;\n"
         "        $rows[] = sprintf('<tr><td>%d</td><td>%s</td><td>%.2f</td></tr>', $id,\n"
         "            htmlspecialchars($order['title'], ENT_QUOTES, 'UTF-8'), $sum);\n"
         "    }\n"
         "    $head = '<h2>' . htmlspecialchars($customer->name) . \"</h2>\\n\";\n"
         "    return $head . '<table>' . implode(\"\\n\", $rows) . '</table>' . "
         "number_format($total, 2);\n"
         "}\n\n"
         "class Order_Repository_" +
         k +
         " extends Base_Repository\n{\n"
         "    const TABLE = 'orders';\n"
         "    private $db;\n"
         "    private $cache = [];\n\n"
         "    public function __construct($db)\n    {\n        $this->db = $db;\n    }\n\n"
         "    public function find($id)\n    {\n"
         "        $id = (int) $id;\n"
         "        if (isset($this->cache[$id])) {\n            return $this->cache[$id];\n        "
         "}\n"
         "        $sql = 'SELECT * FROM ' . self::TABLE . ' WHERE id = ? LIMIT 1';\n"
         "        $stmt = $this->db->prepare($sql);\n"
         "        $stmt->execute(array($id));\n"
         "        $row = $stmt->fetch(PDO::FETCH_ASSOC);\n"
         "        return $this->cache[$id] = $row ? $this->hydrate($row) : null;\n"
         "    }\n\n"
         "    private function hydrate(array $row)\n    {\n"
         "        $row['title'] = trim(strip_tags($row['title']));\n"
         "        $row['created'] = date('Y-m-d H:i', strtotime($row['created']));\n"
         "        $row['tags'] = array_filter(explode(',', strtolower($row['tags'])));\n"
         "        switch ($row['state']) {\n"
         "            case 'open': $row['label'] = __('Open', 'shop'); break;\n"
         "            case 'paid': $row['label'] = __('Paid', 'shop'); break;\n"
         "            default: $row['label'] = ucfirst($row['state']);\n"
         "        }\n"
         "        return $row;\n"
         "    }\n}\n\n"
         "$page_" +
         k +
         " = isset($_GET['page']) ? max(1, intval($_GET['page'])) : 1;\n"
         "$repo_" +
         k + " = new Order_Repository_" + k +
         "($GLOBALS['db']);\n"
         "for ($i = 0; $i < 3; $i++) {\n"
         "    $order = $repo_" +
         k + "->find($page_" + k +
         " * 10 + $i);\n"
         "    if ($order !== null && in_array('gift', $order['tags'], true)) {\n"
         "        echo '<p class=\"gift\">' . esc_html($order['label']) . '</p>';\n"
         "    }\n"
         "}\n?>\n<div class=\"pager\"><?php echo (int) $page_" +
         k + "; ?></div>\n<?php\n";
}

// A script of at least `bytes` bytes of the given shape.
inline std::string make_script(Shape shape, size_t bytes) {
  std::string s = "<?php\n";
  switch (shape) {
    case Shape::Ordinary:
      for (size_t n = 0; s.size() < bytes; n++) s += ordinary_block(n);
      break;
    case Shape::LongStatement:
      s += "$page = ";
      for (size_t n = 0; s.size() < bytes; n++)
        s += "trim($parts[" + std::to_string(n % 97) + "]) . ', ' . strlen($x" +
             std::to_string(n % 89) + ") . ";
      s += "'';\n";
      break;
    case Shape::DeepNesting: {
      // Each level opens an if block holding one statement; the closing
      // braces come at the end.
      const std::string open = "if ($a > 0) { $b = $b + 1; ";
      size_t levels = 0;
      for (; s.size() + levels < bytes; levels++) s += open;
      s += std::string(levels, '}');
      s += "\n";
      break;
    }
    case Shape::ManyVariables:
      for (size_t n = 0; s.size() < bytes; n++)
        s += "$v" + std::to_string(n) + " = $w" + std::to_string(n) + " . 'x';\n";
      break;
    case Shape::LongStrings: {
      size_t half = bytes / 2;
      std::string text;
      while (text.size() < half) text += "Lorem ipsum dolor sit amet, consectetur. ";
      s += "$a = '" + text + "';\n$b = \"" + text + "\";\necho strlen($a . $b);\n";
      break;
    }
    case Shape::ManyAppends:
      s += "$html = '';\n";
      for (size_t n = 0; s.size() < bytes; n++)
        s += "$html .= '<li>item " + std::to_string(n % 1000) + "</li>';\n";
      s += "echo $html;\n";
      break;
  }
  return s;
}

// A typical application file of about 20 KB.
inline std::string typical_app_file() { return make_script(Shape::Ordinary, 20 * 1024); }

}  // namespace bench

#endif
